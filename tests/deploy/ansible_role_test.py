#!/usr/bin/env python3
"""Runs the Ansible role, unchanged, with ansible-playbook against localhost, one inventory host
per row, with the stand-in ansible.windows.win_command of tests/deploy/ansible answering each
call from the row's script. Rows that share a command line (check mode, an extra variable) share
one run, so most rows give their variables as inventory host variables. Each row checks the
host's outcome, the failure message and the calls made, in order.

Usage: tests/deploy/ansible_role_test.py [ANSIBLE-DIR]
  ANSIBLE-DIR: the folder of quickboot.yml and roles/ (default: deploy/ansible of this tree)
"""
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

SOURCE_DIR = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
STAND_IN = os.path.join(SOURCE_DIR, "tests", "deploy", "ansible")

READ, ON, OFF = "quickboot.exe /g", "quickboot.exe /1", "quickboot.exe /0"
DIAG = "quickboot-diag.exe --quiet --timeout 20"
HANG = {"hang": True}
VERDICT_OFF = {"rc": 0, "stdout": "quickboot-diag: quick_boot_off: quick boot is off (read 0)\r\n"}
VERDICT_OFF_NUMERIC = {"rc": 0, "stdout": "quickboot-diag: 0: quick boot is off\r\n"}
VERDICT_ON = {"rc": 1, "stdout": "quickboot-diag: quick_boot_on: quick boot is on (read 1)\r\n"}
VERDICT_MISSING = {
    "rc": 100,
    "stdout": "quickboot-diag: file_missing: C:\\Ctl\\ctl.dll does not exist; fix: reinstall the"
    " control library\r\n",
}
LIBRARY_FAILED = "the control library could not be located, loaded or called"


def bad_state(word):
    return (r"Validation of arguments failed:.*"
            r"value of quickboot_state must be one of: 0, 1, got: %s$" % word)


def answer(rc):
    return {"rc": rc}


def row(name, script, outcome, calls, message=None, mode=(), **host_vars):
    """script: call -> answer; calls: the calls expected in order, hung ones left out."""
    return dict(name=name, script=script, outcome=outcome, calls=calls, message=message,
                mode=tuple(mode), vars=host_vars)


ROWS = [
    # The desired state: only 0 and 1. ansible-playbook -e gives a string, as the inventory does.
    row("word_on", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("on"), mode=["-e", "quickboot_state=on"]),
    row("word_0", {READ: answer(1), OFF: answer(0)}, "changed", [READ, OFF],
        mode=["-e", "quickboot_state=0"]),
    row("word_yes", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("yes"), quickboot_state="yes"),
    row("word_true", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("true"), quickboot_state="true"),
    row("word_1", {READ: answer(0), ON: answer(0)}, "changed", [READ, ON], quickboot_state="1"),
    # Reads first, writes only on drift.
    row("steady_on", {READ: answer(1), ON: answer(0)}, "ok", [READ]),
    row("steady_off", {READ: answer(0), OFF: answer(0)}, "ok", [READ], quickboot_state="0"),
    row("drift_to_on", {READ: answer(0), ON: answer(0)}, "changed", [READ, ON]),
    row("drift_to_off", {READ: answer(1), OFF: answer(0)}, "changed", [READ, OFF],
        quickboot_state="0"),
    # Check mode: the read runs, the write is reported as a change and not run.
    row("check_drift", {READ: answer(0), ON: answer(0)}, "changed", [READ], mode=["--check"]),
    row("check_steady", {READ: answer(1), ON: answer(0)}, "ok", [READ], mode=["--check"]),
    row("check_read_100", {READ: answer(100), DIAG: VERDICT_MISSING}, "failed", [READ, DIAG],
        r"error: file_missing: C:\\Ctl\\ctl\.dll does not exist; fix: reinstall the control"
        r" library \(quickboot\.exe /g answered 100\)$", mode=["--check"]),
    # A failed write leads; the companion's "quick boot is off" only follows.
    row("write_100_verdict_off", {READ: answer(0), ON: answer(100), DIAG: VERDICT_OFF}, "failed",
        [READ, ON, DIAG],
        r"error: control_library_failed: quickboot\.exe /1 answered 100: " + LIBRARY_FAILED
        + r"; quickboot-diag: quick_boot_off: quick boot is off \(read 0\)$"),
    # Today's companion puts the exit code where the cause goes.
    row("write_100_numeric_verdict", {READ: answer(0), ON: answer(100), DIAG: VERDICT_OFF_NUMERIC},
        "failed", [READ, ON, DIAG],
        r"error: control_library_failed: quickboot\.exe /1 answered 100: " + LIBRARY_FAILED
        + r"; quickboot-diag: 0: quick boot is off$"),
    # 100 on the read: the companion's cause when it names one, else the call alone.
    row("read_100_verdict_names_cause", {READ: answer(100), DIAG: VERDICT_MISSING}, "failed",
        [READ, DIAG],
        r"error: file_missing: C:\\Ctl\\ctl\.dll does not exist; fix: reinstall the control"
        r" library \(quickboot\.exe /g answered 100\)$"),
    row("read_100_without_companion", {READ: answer(100)}, "failed", [READ],
        r"error: control_library_failed: quickboot\.exe /g answered 100: " + LIBRARY_FAILED + "$"),
    row("read_100_companion_usage_error", {READ: answer(100), DIAG: answer(2)}, "failed",
        [READ, DIAG],
        r"error: control_library_failed: quickboot\.exe /g answered 100: " + LIBRARY_FAILED + "$"),
    row("read_unknown_code", {READ: answer(7), DIAG: VERDICT_ON}, "failed", [READ, DIAG],
        r"error: unexpected_exit_code: quickboot\.exe /g answered 7: none of its answers; .*"
        r"; quickboot-diag: quick_boot_on: quick boot is on \(read 1\)$"),
    row("write_unknown_code", {READ: answer(1), OFF: answer(-1073741819), DIAG: VERDICT_ON},
        "failed", [READ, OFF, DIAG],
        r"error: unexpected_exit_code: quickboot\.exe /0 answered -1073741819: ",
        quickboot_state="0"),
    # No answer in time: no second load of the library after it.
    row("read_hangs", {READ: HANG, DIAG.replace("20", "2"): VERDICT_MISSING}, "failed", [],
        r"error: timed_out: quickboot\.exe /g did not answer within 2 seconds$",
        quickboot_read_timeout="2"),
    row("write_hangs", {READ: answer(0), ON: HANG, DIAG: VERDICT_OFF}, "failed", [READ],
        r"error: write_still_running: quickboot\.exe /1 did not answer within 2 seconds",
        quickboot_write_timeout="2"),
    row("not_installed", {}, "failed", [],
        r"error: could_not_start: quickboot\.exe /g could not be started: Failed to run: "),
]


def run_group(ansible_dir, mode, rows):
    """Runs the playbook once for the rows; returns {row: (outcome, message, calls)}."""
    # Removing the scratch folder also ends the stand-ins of hung calls.
    with tempfile.TemporaryDirectory() as scratch:
        return run_group_in(ansible_dir, mode, rows, scratch)


def run_group_in(ansible_dir, mode, rows, scratch):
    folder = os.path.join(scratch, "stand-in")
    os.makedirs(folder)
    with open(os.path.join(folder, "script.json"), "w", encoding="utf-8") as script:
        json.dump({r["name"]: r["script"] for r in rows}, script)
    hosts = {}
    for r in rows:
        hosts[r["name"]] = dict(r["vars"], ansible_connection="local",
                                ansible_python_interpreter="{{ ansible_playbook_python }}",
                                quickboot_path="C:\\rows\\%s\\quickboot.exe" % r["name"])
    inventory = os.path.join(scratch, "inventory.json")
    with open(inventory, "w", encoding="utf-8") as file:
        json.dump({"windows": {"hosts": hosts}}, file)

    env = dict(os.environ, HOME=scratch, ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "tmp"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_COLLECTIONS_PATH=STAND_IN,
               ANSIBLE_STDOUT_CALLBACK="json", ANSIBLE_FORKS="20", QUICKBOOT_STAND_IN=folder)
    env.pop("ANSIBLE_CONFIG", None)
    run = subprocess.run(["ansible-playbook", "-i", inventory, *mode, "quickboot.yml"],
                         cwd=ansible_dir, env=env, capture_output=True, text=True, timeout=300)
    try:
        report = json.loads(run.stdout)
    except ValueError:
        sys.exit("ansible-playbook %s: no report (exit %d)\n%s%s"
                 % (" ".join(mode), run.returncode, run.stdout, run.stderr))

    messages = {}
    for play in report["plays"]:
        for task in play["tasks"]:
            for host, result in task["hosts"].items():
                if result.get("failed"):
                    messages[host] = result.get("msg", "")
    calls = {r["name"]: [] for r in rows}
    log = os.path.join(folder, "calls.log")
    if os.path.exists(log):
        with open(log, encoding="utf-8") as file:
            for line in file:
                host, call = line.rstrip("\n").split("\t")
                if not next(r for r in rows if r["name"] == host)["script"][call].get("hang"):
                    calls[host].append(call)
    outcomes = {}
    for r in rows:
        stats = report["stats"].get(r["name"], {})
        outcome = ("failed" if stats.get("failures") or stats.get("unreachable")
                   else "changed" if stats.get("changed") else "ok")
        outcomes[r["name"]] = (outcome, messages.get(r["name"], ""), calls[r["name"]])
    return outcomes


def main():
    ansible_dir = os.path.realpath(sys.argv[1] if len(sys.argv) > 1
                                   else os.path.join(SOURCE_DIR, "deploy", "ansible"))
    groups = {}
    for r in ROWS:
        groups.setdefault(r["mode"], []).append(r)
    # Two runs at a time: most of a run is waiting.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        runs = {mode: pool.submit(run_group, ansible_dir, mode, rows)
                for mode, rows in groups.items()}
    passed = failed = 0
    for mode, rows in groups.items():
        outcomes = runs[mode].result()
        for r in rows:
            outcome, message, calls = outcomes[r["name"]]
            faults = []
            if outcome != r["outcome"]:
                faults.append("outcome %s, expected %s" % (outcome, r["outcome"]))
            if r["message"] and not re.match(r["message"], message, re.S):
                faults.append("message %r does not match %r" % (message, r["message"]))
            if calls != r["calls"]:
                faults.append("calls %s, expected %s" % (calls, r["calls"]))
            print("%s %s%s" % ("FAIL" if faults else "ok  ", r["name"],
                               "".join("\n     " + fault for fault in faults)))
            failed += bool(faults)
            passed += not faults
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
