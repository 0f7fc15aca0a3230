# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""Ctrl-C on the controller stops the lines the way Ctrl-C stops olvex-cli.

Ansible ends at once on Ctrl-C, and olvex-cli would go on writing on the
gateways with nobody to bring its report home. Beside flash.yml this callback
takes the first Ctrl-C (SIGINT) instead: it leaves a file whose path the
environment variable OLVEX_INTERRUPT_FILE names, and the playbook's tasks
look for it. The wait on the lines (olvex_lines_wait) then stops every line's
olvex-cli, which gives up the device being written with its frame; no line
starts after it; the reports come home and the run's report is written. A
second Ctrl-C ends ansible-playbook at once, as it would without this file.
"""

from __future__ import annotations

DOCUMENTATION = r"""
name: olvex_interrupt
type: notification
short_description: The first Ctrl-C stops the lines and keeps the report
description:
  - The first SIGINT is noted in the file OLVEX_INTERRUPT_FILE names, for the
    playbook to stop the lines of every gateway and write the report; the
    second ends ansible-playbook at once.
"""

import atexit
import os
import signal
import tempfile

from ansible.plugins.callback import CallbackBase

VARIABLE = "OLVEX_INTERRUPT_FILE"


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "olvex_interrupt"
    CALLBACK_NEEDS_ENABLED = False

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._pid = os.getpid()
        self._interrupts = 0
        self._file = os.path.join(tempfile.gettempdir(), f"olvex-interrupt-{self._pid}")
        self._forget()
        # The worker processes Ansible forks inherit both.
        os.environ[VARIABLE] = self._file
        signal.signal(signal.SIGINT, self._on_interrupt)
        atexit.register(self._forget)

    def _forget(self):
        if os.getpid() == self._pid:
            try:
                os.unlink(self._file)
            except OSError:
                pass

    def _on_interrupt(self, number, frame):
        # A Ctrl-C typed on the terminal reaches the workers as well: they
        # only note it, and their tasks go on.
        with open(self._file, "w", encoding="utf-8") as note:
            note.write("interrupted\n")
        if os.getpid() != self._pid:
            return
        self._interrupts += 1
        if self._interrupts > 1:
            # The second: as Ansible does, at once.
            signal.signal(signal.SIGINT, signal.default_int_handler)
            raise KeyboardInterrupt
        self._display.display(
            "Ctrl-C: stopping the lines and writing the report; Ctrl-C again quits at once",
            color="bright red", stderr=True)

    def v2_playbook_on_stats(self, stats):
        self._forget()
