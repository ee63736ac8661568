#!/usr/bin/python
# Stand-in for ansible.windows.win_reg_stat in the role's test (tests/deploy/ansible_role_test.py):
# the same options and answers as the real module (exists; a key's properties as
# {name: {type, value, raw_value}}; a value's type, value, raw_value), from script.json's
# "registry" entry of the row QUICKBOOT_ROW: {"<path>": {"<name>": {"type": ..., "value": ...}}}.
import json
import os

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(path=dict(type="str", required=True, aliases=["key"]),
                           name=dict(type="str", aliases=["entry", "value"])),
        supports_check_mode=True,
    )
    with open(os.path.join(os.environ["QUICKBOOT_STAND_IN"], "script.json"),
              encoding="utf-8") as script_file:
        script = json.load(script_file)
    registry = script.get(os.environ.get("QUICKBOOT_ROW", ""), {}).get("registry", {})
    key = registry.get(module.params["path"])
    name = module.params["name"]
    if key is None or (name is not None and name not in key):
        module.exit_json(changed=False, exists=False)
    if name is not None:
        value = key[name]
        module.exit_json(changed=False, exists=True, type=value["type"], value=value["value"],
                         raw_value=value["value"])
    properties = {entry: dict(value, raw_value=value["value"]) for entry, value in key.items()}
    module.exit_json(changed=False, exists=True, properties=properties, sub_keys=[])


if __name__ == "__main__":
    main()
