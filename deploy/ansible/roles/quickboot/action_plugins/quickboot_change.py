# Reports the quick-boot switch's change as a change, with a before and after that
# ansible-playbook --diff shows ("quick_boot: off" -> "quick_boot: on"). Runs on the controller
# only; it changes nothing on the host.
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("before", "after"))

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        before = self._task.args.get("before", "")
        after = self._task.args.get("after", "")
        result.update(
            changed=before != after,
            before=before,
            after=after,
            diff=dict(before="quick_boot: %s\n" % before, after="quick_boot: %s\n" % after,
                      before_header="quick-boot switch", after_header="quick-boot switch"),
        )
        return result
