#!/usr/bin/env python3
"""Runs the Ansible role, unchanged, with ansible-playbook against localhost, one inventory host
per row, with the stand-ins ansible.windows.win_command and win_reg_stat of tests/deploy/ansible
answering each call and registry read from the row's script and machine. Rows that share a
command line (check mode, an extra variable) share one run, so most rows give their variables as
inventory host variables. Each row checks the host's outcome, its result's outcome and cause, the
failure message (one failed record, the status line) and the calls made, in order; each run
checks the totals per outcome.

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
# The read's limit in every row that does not set its own: roomy, as a loaded machine starts the
# stand-ins slowly.
READ_TIMEOUT = "90"
DIAG = "quickboot-diag.exe --quiet --timeout " + READ_TIMEOUT
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
# The machine every row runs on: the installer's record and the firmware's description.
INSTALLED = r"HKLM:\SOFTWARE\quickboot"
FIRMWARE = r"HKLM:\HARDWARE\DESCRIPTION\System\BIOS"
WINDOWS = r"HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion"
MACHINE = {
    FIRMWARE: {"SystemManufacturer": {"type": "REG_SZ", "value": " Maker; Inc.|\tEast "},
               "SystemProductName": {"type": "REG_SZ", "value": "M" * 70},
               "BIOSVersion": {"type": "REG_MULTI_SZ", "value": ["V1.2", "Rev 3"]},
               "BIOSReleaseDate": {"type": "REG_SZ", "value": "01/02/2024"}},
    WINDOWS: {"ProgramW6432Dir": {"type": "REG_SZ", "value": "C:\\Program Files"}},
}
RESULT_FIELDS = ["computer_name", "state", "desired_state", "changed", "outcome", "cause", "reason",
                 "fix", "read_exit_code", "write_exit_code", "manufacturer", "model", "firmware",
                 "firmware_date", "version", "status_line"]
VERSION = {"Version": {"type": "REG_SZ", "value": "1.0.0"}}
HARDWARE = (r" \| manufacturer=Maker  Inc\.  East; model=M{64}; firmware=V1\.2 Rev 3;"
            r" firmware_date=01/02/2024; quickboot=1\.0\.0$")


def bad_state(word):
    return (r"Validation of arguments failed:.*"
            r"value of quickboot_state must be one of: 0, 1, got: %s$" % word)


def answer(rc):
    return {"rc": rc}


# The set-ups every kit shares: set-up -> {"outcome", "cause"}.
with open(os.path.join(SOURCE_DIR, "tests", "deploy", "kit-cases.json"), encoding="utf-8") as f:
    KIT_CASES = json.load(f)


def row(name, script, outcome, calls, message=None, mode=(), cause=None, machine=None,
        diff=None, case=None, **host_vars):
    """script: call -> answer; calls: the calls expected in order, hung ones left out; cause:
    "<outcome>: <cause>" of quickboot_result; machine: the registry (default: MACHINE, with
    the installer's record naming the row's folder); diff: the switch (before, after); case: a
    set-up of kit-cases.json, which gives the cause."""
    if case:
        cause = "%(outcome)s: %(cause)s" % KIT_CASES[case]
    return dict(name=name, script=script, outcome=outcome, calls=calls, message=message,
                mode=tuple(mode), cause=cause, machine=machine, diff=diff, vars=host_vars)


def machine(r):
    """The row's registry: MACHINE with the installer's record of the row's folder."""
    if r["machine"] is not None:
        return r["machine"]
    installed = {"InstallDir": {"type": "REG_SZ", "value": "C:\\rows\\%s" % r["name"]},
                 "Version": {"type": "REG_SZ", "value": "1.0.0"}}
    return dict(MACHINE, **{INSTALLED: installed})


ROWS = [
    # The desired state: only 0 and 1. ansible-playbook -e gives a string, as the inventory does.
    row("word_on", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("on"), mode=["-e", "quickboot_state=on"]),
    row("word_0", {READ: answer(1), OFF: answer(0)}, "changed", [READ, OFF],
        mode=["-e", "quickboot_state=0"], cause="repaired: quick_boot_off"),
    row("word_yes", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("yes"), quickboot_state="yes"),
    row("word_true", {READ: answer(1), OFF: answer(0), ON: answer(0)}, "failed", [],
        bad_state("true"), quickboot_state="true"),
    row("word_1", {READ: answer(0), ON: answer(0)}, "changed", [READ, ON], quickboot_state="1",
        cause="repaired: quick_boot_on"),
    # Reads first, writes only on drift; a switch that is on (/g answers 1) is no failure.
    row("steady_on", {READ: answer(1), ON: answer(0)}, "ok", [READ],
        case="on"),
    row("steady_off", {READ: answer(0), OFF: answer(0)}, "ok", [READ], quickboot_state="0",
        cause="compliant: quick_boot_off"),
    row("drift_to_on", {READ: answer(0), ON: answer(0)}, "changed", [READ, ON],
        case="off"),
    row("drift_to_off", {READ: answer(1), OFF: answer(0)}, "changed", [READ, OFF],
        quickboot_state="0", cause="repaired: quick_boot_off"),
    # Check mode: the read runs, the write is reported as a change and not run.
    row("check_drift", {READ: answer(0), ON: answer(0)}, "changed", [READ], mode=["--check"],
        case="off_read_only"),
    row("check_steady", {READ: answer(1), ON: answer(0)}, "ok", [READ], mode=["--check"],
        cause="compliant: quick_boot_on"),
    row("check_read_100", {READ: answer(100), DIAG: VERDICT_MISSING}, "failed", [READ, DIAG],
        r"error: file_missing: C:\\Ctl\\ctl\.dll does not exist; fix: reinstall the control"
        r" library" + HARDWARE, mode=["--check"], cause="error: file_missing"),
    # --diff shows the switch before and after.
    row("diff_drift", {READ: answer(0), ON: answer(0)}, "changed", [READ, ON], mode=["--diff"],
        cause="repaired: quick_boot_on", diff=("off", "on")),
    # A failed write leads; the companion's "quick boot is off" only follows.
    row("write_100_verdict_off", {READ: answer(0), ON: answer(100), DIAG: VERDICT_OFF}, "failed",
        [READ, ON, DIAG],
        r"error: control_library_failed: quickboot\.exe /1 answered 100: " + LIBRARY_FAILED
        + r"; quickboot-diag: quick_boot_off: quick boot is off \(read 0\)" + HARDWARE,
        case="write_fails"),
    # Today's companion puts the exit code where the cause goes.
    row("write_100_numeric_verdict", {READ: answer(0), ON: answer(100), DIAG: VERDICT_OFF_NUMERIC},
        "failed", [READ, ON, DIAG],
        r"error: control_library_failed: quickboot\.exe /1 answered 100: " + LIBRARY_FAILED
        + r"; quickboot-diag: 0: quick boot is off" + HARDWARE, cause="error: control_library_failed"),
    # 100 on the read: the companion's cause and its text when it names one, else the call alone.
    row("read_100_verdict_names_cause", {READ: answer(100), DIAG: VERDICT_MISSING}, "failed",
        [READ, DIAG],
        r"error: file_missing: C:\\Ctl\\ctl\.dll does not exist; fix: reinstall the control"
        r" library" + HARDWARE, case="library_missing_companion"),
    row("read_100_without_companion", {READ: answer(100)}, "failed", [READ],
        r"error: control_library_failed: quickboot\.exe /g answered 100: " + LIBRARY_FAILED
        + HARDWARE, case="library_missing"),
    row("read_100_companion_usage_error", {READ: answer(100), DIAG: answer(2)}, "failed",
        [READ, DIAG],
        r"error: control_library_failed: quickboot\.exe /g answered 100: " + LIBRARY_FAILED
        + HARDWARE, cause="error: control_library_failed"),
    row("read_unknown_code", {READ: answer(7), DIAG: VERDICT_ON}, "failed", [READ, DIAG],
        r"error: unexpected_exit_code: quickboot\.exe /g answered 7: none of its answers; .*"
        r"; quickboot-diag: quick_boot_on: quick boot is on \(read 1\)" + HARDWARE,
        case="library_ends_process"),
    row("write_unknown_code", {READ: answer(1), OFF: answer(-1073741819), DIAG: VERDICT_ON},
        "failed", [READ, OFF, DIAG],
        r"error: unexpected_exit_code: quickboot\.exe /0 answered -1073741819: ",
        quickboot_state="0", cause="error: unexpected_exit_code"),
    # No answer in time: no second load of the library after it.
    row("read_hangs", {READ: HANG, DIAG.replace(READ_TIMEOUT, "2"): VERDICT_MISSING}, "failed", [],
        r"error: timed_out: quickboot\.exe /g did not answer within 2 seconds" + HARDWARE,
        quickboot_read_timeout="2", case="read_hangs"),
    row("write_hangs", {READ: answer(0), ON: HANG, DIAG: VERDICT_OFF}, "failed", [READ],
        r"error: write_still_running: quickboot\.exe /1 did not end within 2 seconds",
        quickboot_write_timeout="2", case="write_hangs"),
    # The program folder: the installer's record, else the 64-bit Program Files folder, else
    # nothing (never a folder relative to the current drive).
    row("not_installed", {}, "failed", [],
        r"error: not_installed: quickboot\.exe not found: C:\\rows\\not_installed\\quickboot\.exe"
        + HARDWARE, cause="error: not_installed"),
    row("program_files", {READ: answer(1)}, "ok", [READ], cause="compliant: quick_boot_on",
        machine={FIRMWARE: MACHINE[FIRMWARE], WINDOWS: MACHINE[WINDOWS], INSTALLED: VERSION}),
    row("no_folder_recorded", {READ: answer(1)}, "failed", [],
        r"error: not_installed: ProgramW6432 is not set and HKLM\\SOFTWARE\\quickboot\\InstallDir"
        r" is missing \| manufacturer=Maker", cause="error: not_installed",
        machine={FIRMWARE: MACHINE[FIRMWARE], INSTALLED: VERSION}),
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
        json.dump({r["name"]: dict(r["script"], registry=machine(r)) for r in rows}, script)
    # The stand-ins tell the rows apart by QUICKBOOT_ROW, set through each host's interpreter.
    hosts = {r["name"]: dict({"quickboot_read_timeout": READ_TIMEOUT}, **r["vars"],
                             ansible_connection="local",
                             ansible_python_interpreter="QUICKBOOT_ROW=%s {{ ansible_playbook_python }}"
                             % r["name"]) for r in rows}
    inventory = os.path.join(scratch, "inventory.json")
    with open(inventory, "w", encoding="utf-8") as file:
        json.dump({"windows": {"hosts": hosts}}, file)

    env = dict(os.environ, HOME=scratch, ANSIBLE_LOCAL_TEMP=os.path.join(scratch, "tmp"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_COLLECTIONS_PATH=STAND_IN,
               ANSIBLE_STDOUT_CALLBACK="json", ANSIBLE_FORKS="20", QUICKBOOT_STAND_IN=folder,
               ANSIBLE_SHOW_CUSTOM_STATS="1")
    env.pop("ANSIBLE_CONFIG", None)
    run = subprocess.run(["ansible-playbook", "-i", inventory, *mode, "quickboot.yml"],
                         cwd=ansible_dir, env=env, capture_output=True, text=True, timeout=600)
    try:
        report = json.loads(run.stdout)
    except ValueError:
        sys.exit("ansible-playbook %s: no report (exit %d)\n%s%s"
                 % (" ".join(mode), run.returncode, run.stdout, run.stderr))

    messages, failures, results, diffs = {}, {}, {}, {}
    for play in report["plays"]:
        for task in play["tasks"]:
            for host, result in task["hosts"].items():
                if result.get("failed"):
                    messages[host] = result.get("msg", "")
                    failures[host] = failures.get(host, 0) + 1
                if "quickboot_result" in result.get("ansible_facts", {}):
                    results[host] = result["ansible_facts"]["quickboot_result"]
                if result.get("diff") and result.get("changed"):
                    diffs[host] = result["diff"]
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
        outcomes[r["name"]] = dict(outcome=outcome, message=messages.get(r["name"], ""),
                                   calls=calls[r["name"]], failures=failures.get(r["name"], 0),
                                   result=results.get(r["name"]), diff=diffs.get(r["name"]))
    return outcomes, report.get("global_custom_stats", {})


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
        outcomes, totals = runs[mode].result()
        for r in rows:
            got = outcomes[r["name"]]
            faults = []
            if got["outcome"] != r["outcome"]:
                faults.append("outcome %s, expected %s" % (got["outcome"], r["outcome"]))
            if r["message"] and not re.match(r["message"], got["message"], re.S):
                faults.append("message %r does not match %r" % (got["message"], r["message"]))
            if r["outcome"] != "failed" and got["message"]:
                faults.append("a message on a healthy host: %r" % got["message"])
            # One failure, one record (a call past its time limit fails its own task as well).
            hung = any(answer.get("hang") for answer in r["script"].values())
            if r["outcome"] == "failed" and r["cause"] and got["failures"] != 1 + hung:
                faults.append("%d failed records" % got["failures"])
            if got["calls"] != r["calls"]:
                faults.append("calls %s, expected %s" % (got["calls"], r["calls"]))
            result = got["result"] or {}
            if r["cause"] and ("%s: %s" % (result.get("outcome"), result.get("cause")) != r["cause"]
                               or not re.match(re.escape(r["cause"]) + ": .*" + HARDWARE,
                                               result.get("status_line", ""))
                               or sorted(result) != sorted(RESULT_FIELDS)
                               or bool(result.get("fix")) != r["cause"].startswith("error")):
                faults.append("result %s, expected %s" % (result, r["cause"]))
            if r["diff"] and got["diff"] != {
                    "before": "quick_boot: %s\n" % r["diff"][0],
                    "after": "quick_boot: %s\n" % r["diff"][1],
                    "before_header": "quick-boot switch", "after_header": "quick-boot switch"}:
                faults.append("diff %s, expected %s" % (got["diff"], r["diff"]))
            print("%s %s%s" % ("FAIL" if faults else "ok  ", r["name"],
                               "".join("\n     " + fault for fault in faults)))
            failed += bool(faults)
            passed += not faults
        # The run's totals: one count per host and outcome.
        expected = {}
        for r in rows:
            if r["cause"]:
                key = "quickboot_" + r["cause"].split(":")[0]
                expected[key] = expected.get(key, 0) + 1
        counted = {k: v for k, v in totals.items() if k.startswith("quickboot_")}
        if counted != expected:
            print("FAIL totals %s: %s, expected %s" % (" ".join(mode), counted, expected))
            failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
