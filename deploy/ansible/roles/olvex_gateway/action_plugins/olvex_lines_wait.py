# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""Follows the lines olvex_lines started on a gateway to their end.

Reads the runner's status.json every `poll` seconds and prints a line for
each line's progress (what its olvex-cli said last) and for each line that
ends, so that a long flash shows how it goes instead of retries of a task.
When Ctrl-C was pressed on the controller (the interrupt file exists; the
playbook's callback olvex_interrupt makes it), the wait leaves a file "stop"
in the run's folder, and the runner stops as on SIGINT: every olvex-cli gets
SIGINT and gives up the device being written with its frame, no further line
starts, and the wait goes on until every line has ended. Returns each line's status with what its olvex-cli printed.
"""

from __future__ import annotations

import json
import os
import shlex
import sys
import time
from datetime import datetime

from ansible.errors import AnsibleError
from ansible.module_utils.common.text.converters import to_text
from ansible.plugins.action import ActionBase
from ansible.utils.display import Display

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "module_utils"))
from olvex_fleet import TIME_FORMAT  # noqa: E402  pylint: disable=wrong-import-position

display = Display()

TICK = 0.2  # how often the interrupt file is looked at


def clock(seconds):
    seconds = int(seconds)
    return (f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}" if seconds >= 3600
            else f"{seconds // 60}:{seconds % 60:02d}")


def elapsed(started, ended):
    try:
        return clock((datetime.strptime(ended, TIME_FORMAT) - datetime.strptime(started, TIME_FORMAT))
                     .total_seconds())
    except (TypeError, ValueError):
        return "?"


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("dir", "poll", "interrupt_file", "deadline"))

    def remote(self, command):
        try:
            done = self._low_level_execute_command(command, sudoable=True)
        except AnsibleError as error:
            return None, to_text(error)
        if done.get("rc") != 0:
            return None, to_text(done.get("stderr") or done.get("stdout") or "").strip()
        return to_text(done.get("stdout", "")), ""

    def read(self, folder, name):
        text, _ = self.remote("cat " + shlex.quote(os.path.join(folder, name)))
        return text

    def status(self, folder):
        text, why = self.remote("cat " + shlex.quote(os.path.join(folder, "status.json")))
        if text is None:
            return None, why
        try:
            return json.loads(text), ""
        except ValueError as error:
            return None, f"status.json unreadable: {error}"

    def show(self, host, line, said):
        name = line.get("name")
        if line.get("state") == "ended" and said.get(name) != "ended":
            said[name] = "ended"
            how = "interrupted, " if line.get("interrupted") else ""
            last = f": {line['progress']}" if line.get("exitCode") != 0 and line.get("progress") else ""
            display.display(f"  [{host}] {name}: ended after {elapsed(line.get('started'), line.get('ended'))},"
                            f" {how}exit status {line.get('exitCode')}{last}")
        elif line.get("state") == "not run" and said.get(name) != "not run":
            said[name] = "not run"
            display.display(f"  [{host}] {name}: not run: {line.get('reason')}")
        elif line.get("state") == "running" and line.get("progress") and said.get(name) != line["progress"]:
            said[name] = line["progress"]
            display.display(f"  [{host}] {name}: {line['progress']}")

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        args = self._task.args
        folder = args["dir"]
        poll = max(float(args.get("poll", 5)), TICK)
        flag = args.get("interrupt_file") or ""
        deadline = time.monotonic() + float(args["deadline"])
        host = (task_vars or {}).get("inventory_hostname", "?")
        said, stopped, status, trouble = {}, False, None, ""
        while True:
            latest, why = self.status(folder)
            if latest is not None:
                status, trouble = latest, ""
                for line in status.get("lines", []):
                    self.show(host, line, said)
                if status.get("state") == "ended":
                    break
            elif why != trouble:
                trouble = why
                display.warning(f"[{host}] cannot read the lines' status, trying again: {why}")
            if time.monotonic() > deadline:
                result.update(failed=True, msg="the lines did not end in time"
                              + (f"; last trouble: {trouble}" if trouble else ""),
                              lines=(status or {}).get("lines", []))
                return result
            # Wait for the next look, watching for Ctrl-C on the controller.
            until = time.monotonic() + poll
            while time.monotonic() < until:
                if not stopped and status and flag and os.path.exists(flag):
                    # A Ctrl-C typed on the terminal may have cut this very
                    # connection: tried again at the next look until it goes.
                    sent, why = self.remote("touch " + shlex.quote(os.path.join(folder, "stop")))
                    stopped = sent is not None
                    display.display(f"  [{host}] Ctrl-C: stopping the lines (olvex-cli gives up"
                                    " the device being written)" if stopped
                                    else f"  [{host}] Ctrl-C: cannot reach the runner yet: {why}")
                    break
                time.sleep(TICK)
        lines = status.get("lines", [])
        for line in lines:
            if line.get("state") == "ended":
                line["stdout"] = self.read(folder, line["name"] + ".json") or ""
                line["stderr"] = self.read(folder, line["name"] + ".err") or ""
        result.update(changed=any(l.get("state") == "ended" for l in lines), lines=lines,
                      interrupted=bool(status.get("interrupted")))
        return result
