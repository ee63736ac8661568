# The role's result: from the registered calls to the fact quickboot_result, with the QuickBoot
# module's fields, causes and status line. Runs on the controller.
import os
import re

LINE_LIMIT = 2048
FIELD_LIMIT = 64
CANNOT_USE = "the control library could not be located, loaded or called"
VERDICT = re.compile(r"^quickboot-diag: ([a-z0-9_]+): (.*)$")
FIELD_BLANKS = re.compile(r"[\x00-\x1f\x7f;|]")
# The one table of causes, where the release puts it beside the role (the zip's QuickBoot\, or
# the source tree's powershell/QuickBoot/).
HERE = os.path.dirname(os.path.abspath(__file__))
CAUSE_TABLES = [os.path.join(HERE, *([".."] * 5), folder, "QuickBoot.Causes.psd1")
                for folder in ("QuickBoot", os.path.join("powershell", "QuickBoot"))]
CAUSE_ROW = re.compile(r"@\{ Token = '([a-z0-9_]+)';.*?; Fix = '((?:[^']|'')*)' \}")


def fixes():
    """{cause: fix} from the table of causes, or {} where it is not at hand."""
    for path in CAUSE_TABLES:
        if os.path.isfile(path):
            with open(path, encoding="utf-8") as table:
                return {token: fix.replace("''", "'")
                        for token, fix in CAUSE_ROW.findall(table.read())}
    return {}


def field(value):
    """A hardware field: control characters, ; and | become blanks; trimmed; at most 64."""
    if isinstance(value, list):
        value = "\0".join(str(item) for item in value)
    return FIELD_BLANKS.sub(" ", "" if value is None else str(value)).strip()[:FIELD_LIMIT]


def status_line(outcome, cause, reason, fields):
    """<outcome>: <cause>: <reason> | manufacturer=...; ...: one line of at most 2,048."""
    tail = " | manufacturer=%s; model=%s; firmware=%s; firmware_date=%s; quickboot=%s" % fields
    head = "%s: %s: " % (outcome, cause)
    reason = re.sub(r"[\r\n]+", " ", reason)
    room = LINE_LIMIT - len(head) - len(tail)
    if len(reason) > room:
        cut = reason[:room - 3]
        reason = (cut[:cut.rfind(" ") + 1] if " " in cut else cut) + "..."
    return head + reason + tail


def ran(call):
    return bool(call) and not call.get("skipped") and "start" in call


def quickboot_result(facts):
    wanted = "on" if int(facts["state"]) == 1 else "off"
    read, write, diag = (facts.get(name) or {} for name in ("read", "write", "diag"))
    wrote = bool(write) and not write.get("skipped")
    call, last = ("/%d" % int(facts["state"]), write) if wrote else ("/g", read)
    rc = last.get("rc")
    now = "on" if read.get("rc") == 1 else "off"

    if facts.get("not_found"):
        cause, reason = "not_installed", facts["not_found"]
    elif "rc" not in last:
        cause = "write_still_running" if wrote else "timed_out"
        reason = ("quickboot.exe %s did not end within %s seconds; it may still be running"
                  % (call, facts["write_timeout"]) if wrote else
                  "quickboot.exe /g did not answer within %s seconds" % facts["read_timeout"])
    elif "start" not in last:
        if rc in (2, 3):
            cause, reason = "not_installed", "quickboot.exe not found: %s" % facts["program"]
        else:
            cause = "could_not_start"
            reason = "quickboot.exe %s could not be started: %s" % (call, last.get("msg", ""))
    elif wrote and rc == 0:
        cause, reason = "quick_boot_" + wanted, "quick boot switched " + wanted
    elif not wrote and rc in (0, 1):
        cause = "quick_boot_" + now
        reason = "quick boot is " + now + ("" if now == wanted else ", wanted " + wanted)
    else:
        cause = "control_library_failed" if rc == 100 else "unexpected_exit_code"
        reason = ("quickboot.exe %s answered 100: %s" % (call, CANNOT_USE) if rc == 100 else
                  "quickboot.exe %s answered %s: none of its answers; the control library may"
                  " have ended the process" % (call, rc))
        lines = (diag.get("stdout") or "").splitlines()
        verdict = VERDICT.match(lines[0].strip()) if lines else None
        if verdict and verdict.group(1)[0].isalpha() and diag.get("rc") not in (0, 1) and \
                verdict.group(1) not in ("quick_boot_on", "quick_boot_off"):
            cause, reason = verdict.group(1), verdict.group(2)
        elif verdict:
            reason += "; " + lines[0].strip()

    if cause == "quick_boot_" + wanted:
        outcome = "repaired" if wrote else "compliant"
    else:
        outcome = "drift" if cause.startswith("quick_boot_") else "error"
    firmware = (facts.get("firmware") or {}).get("properties") or {}
    installed = (facts.get("installed") or {}).get("properties") or {}
    fields = tuple(field((firmware.get(name) or {}).get("value"))
                   for name in ("SystemManufacturer", "SystemProductName", "BIOSVersion",
                                "BIOSReleaseDate")) + \
        (field((installed.get("Version") or {}).get("value")),)
    state = {"compliant": wanted, "repaired": wanted, "drift": now}.get(outcome)
    return dict(
        computer_name=facts["host"], state=state.capitalize() if state else None,
        desired_state=wanted.capitalize(), changed=wrote and rc == 0, outcome=outcome,
        cause=cause, reason=reason, fix=fixes().get(cause, ""),
        read_exit_code=read.get("rc") if ran(read) else None,
        write_exit_code=write.get("rc") if ran(write) else None,
        manufacturer=fields[0], model=fields[1], firmware=fields[2], firmware_date=fields[3],
        version=fields[4], status_line=status_line(outcome, cause, reason, fields))


class FilterModule:
    def filters(self):
        return {"quickboot_result": quickboot_result}
