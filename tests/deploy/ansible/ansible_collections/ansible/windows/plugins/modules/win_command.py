#!/usr/bin/python
# Stand-in for ansible.windows.win_command in the role's test (tests/deploy/ansible_role_test.py):
# takes the same options and answers as the real module does, in the same shape (rc, stdout,
# start, msg), but from a script instead of a Windows host, and logs each call.
# QUICKBOOT_STAND_IN names a folder holding script.json:
#   {"<row>": {"<program> <arguments>": {"rc": 0, "stdout": "..."} or {"hang": true}}}
# where <row> is QUICKBOOT_ROW (set per inventory host through its interpreter line), else the
# name of the folder of the program called. A program without an entry cannot be started (rc 2,
# the system's "file not found"). Each call that would run is appended to calls.log there as "<row>\t<call>".
# A hung call waits until the folder is removed (at most two minutes), then answers 259.
import datetime
import json
import os
import re
import time

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            _raw_params=dict(type="str"),
            cmd=dict(type="str"),
            argv=dict(type="list", elements="str"),
            chdir=dict(type="path"),
            creates=dict(type="path"),
            removes=dict(type="path"),
            stdin=dict(type="str"),
            output_encoding_override=dict(type="str"),
        ),
        required_one_of=[["_raw_params", "argv", "cmd"]],
        mutually_exclusive=[["_raw_params", "argv", "cmd"]],
        supports_check_mode=False,  # as the real module: in check mode it is skipped, not run
    )
    folder = os.environ["QUICKBOOT_STAND_IN"]
    with open(os.path.join(folder, "script.json"), encoding="utf-8") as script_file:
        script = json.load(script_file)

    command = (module.params["cmd"] or module.params["_raw_params"] or "").strip()
    parts = re.match(r'^"(?:.*\\)?([^\\]*)\\([^\\"]*)"\s*(.*)$', command)
    row, call = ("", command)
    if parts:
        row, call = parts.group(1), (parts.group(2) + " " + parts.group(3)).strip()
    row = os.environ.get("QUICKBOOT_ROW", row)
    answers = script.get(row, {})

    def exists(windows_path):
        program = re.split(r"[\\/]", windows_path)[-1]
        return any(key.split(" ")[0] == program for key in answers)

    creates, removes = module.params["creates"], module.params["removes"]
    if creates and exists(creates):
        module.exit_json(cmd=command, rc=0, skipped=True, msg="skipped, since %s exists" % creates)
    if removes and not exists(removes):
        module.exit_json(cmd=command, rc=0, skipped=True,
                         msg="skipped, since %s does not exist" % removes)

    answer = answers.get(call)
    if answer is None:
        module.fail_json(cmd=command, rc=2, msg="Failed to run: '%s': The system cannot find the"
                         " file specified." % command)

    with open(os.path.join(folder, "calls.log"), "a", encoding="utf-8") as log:
        log.write("%s\t%s\n" % (row, call))
    start = datetime.datetime.utcnow()
    rc = answer.get("rc", 0)
    if answer.get("hang"):
        deadline = time.monotonic() + 120
        while os.path.isdir(folder) and time.monotonic() < deadline:
            time.sleep(0.2)
        rc = 259
    end = datetime.datetime.utcnow()
    result = dict(cmd=command, rc=rc, changed=True, stdout=answer.get("stdout", ""), stderr="",
                  start=str(start), end=str(end), delta=str(end - start))
    if rc != 0:
        module.fail_json(msg="non-zero return code", **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
