#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""Starts olvex-cli on the lines of a gateway in the background."""

from __future__ import annotations

DOCUMENTATION = r"""
---
module: olvex_lines
short_description: Starts olvex-cli on the lines of a gateway, in the background
description:
  - Starts a runner on the gateway that runs one olvex-cli per line, side by
    side or one after the other, and returns at once. The runner outlives the
    connection and keeps, in O(dir), each line's report (NAME.json, what
    olvex-cli printed on standard output), its messages (NAME.err) and
    status.json (each line's state, start, end, exit status and last message).
  - A file C(stop) in O(dir), or SIGINT to the runner (the pid in
    status.json), goes on to every olvex-cli running as SIGINT, and it gives
    up the device being written as on Ctrl-C; no further line starts. A
    second SIGINT goes on too, and olvex-cli ends at once.
  - Only one runner a gateway at a time (a lock in O(lock)).
  - olvex_lines_wait follows the runner to its end.
options:
  dir:
    description: The folder of this run's files on the gateway (made if missing).
    type: path
    required: true
  lines:
    description:
      - One entry a line (a dict), each with C(name), C(port) and either
        C(argv), the command to run, or C(skip), why the line is not run.
    type: list
    elements: raw
    required: true
  side_by_side:
    description: All lines at once (true), or one after the other.
    type: bool
    default: false
  timeout:
    description:
      - Seconds a line may take; then it gets SIGTERM (olvex-cli gives up the
        device being written), and SIGKILL a minute later. Its exit status is
        then 124.
    type: int
    required: true
  lock:
    description: The lock file that keeps a second runner off the gateway.
    type: path
    required: true
  leave_nothing:
    description:
      - When the runner ends, it removes the lock file and the folders it made
        for it, if they were not there before (a dry run leaves nothing behind).
        It still holds the lock then, and its lines have all ended.
    type: bool
    default: false
author: Ruvo
"""

RETURN = r"""
pid:
  description: The runner's process id.
  type: int
  returned: success
"""

import fcntl
import json
import os
import signal
import subprocess
import threading
import time

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.olvex_fleet import now, write_text

KILL_AFTER = 60  # seconds after SIGTERM
TICK = 0.2


class Line:
    def __init__(self, given, folder):
        self.argv = given.get("argv")
        self.name = given["name"]
        self.folder = folder
        self.process = None
        self.reader = None
        self.started_at = None
        self.term_at = None
        self.status = {"name": self.name, "port": given["port"], "state": "waiting",
                       "started": None, "ended": None, "exitCode": None, "pid": None,
                       "progress": "", "timedOut": False, "interrupted": False,
                       "reason": given.get("skip")}
        if given.get("skip") or not self.argv:
            self.status.update(state="not run", reason=given.get("skip") or "nothing to run")

    def start(self):
        out = open(os.path.join(self.folder, self.name + ".json"), "wb")
        err = open(os.path.join(self.folder, self.name + ".err"), "wb")
        try:
            self.process = subprocess.Popen(self.argv, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=subprocess.PIPE)
        except OSError as error:
            err.write(f"olvex-cli: cannot start {self.argv[0]}: {error}\n".encode())
            err.close()
            self.status.update(state="ended", started=now(), ended=now(),
                               exitCode=127 if isinstance(error, FileNotFoundError) else 126,
                               reason=str(error))
            return
        finally:
            out.close()
        self.started_at = time.monotonic()
        self.status.update(state="running", started=now(), pid=self.process.pid)
        self.reader = threading.Thread(target=self.read, args=(err,), daemon=True)
        self.reader.start()

    def read(self, err):
        # The last thing olvex-cli said is the line's progress.
        with err:
            for raw in iter(self.process.stderr.readline, b""):
                err.write(raw)
                err.flush()
                text = raw.decode("utf-8", "replace").strip()
                if text:
                    self.status["progress"] = text

    def signal(self, number):
        if self.process and self.process.poll() is None:
            try:
                self.process.send_signal(number)
            except OSError:
                pass

    def check(self, timeout):
        """Whether the line has just ended."""
        if self.status["state"] != "running":
            return False
        code = self.process.poll()
        waited = time.monotonic() - self.started_at
        if code is None:
            if self.term_at is None and waited > timeout:
                self.term_at = time.monotonic()
                self.status["timedOut"] = True
                self.signal(signal.SIGTERM)
            elif self.term_at is not None and time.monotonic() - self.term_at > KILL_AFTER:
                self.signal(signal.SIGKILL)
            return False
        if self.reader:
            self.reader.join(5)
        self.status.update(state="ended", ended=now(),
                           exitCode=124 if self.status["timedOut"] else (
                               code if code >= 0 else 128 - code))
        return True


class Runner:
    def __init__(self, params):
        self.folder = params["dir"]
        self.side_by_side = params["side_by_side"]
        self.timeout = params["timeout"]
        self.lines = [Line(given, self.folder) for given in params["lines"]]
        self.stop_file = os.path.join(self.folder, "stop")
        self.status = {"pid": os.getpid(), "state": "running", "started": now(), "ended": None,
                       "interrupted": False, "lines": [line.status for line in self.lines]}

    def save(self):
        write_text(os.path.join(self.folder, "status.json"), json.dumps(self.status, indent=1))

    def on_signal(self, number, _frame):
        # As Ctrl-C does locally: the line's olvex-cli gives up the device it
        # writes; the next one ends it at once. No line starts after it.
        self.status["interrupted"] = True
        for line in self.lines:
            if line.status["state"] == "running":
                line.status["interrupted"] = True
                line.signal(signal.SIGINT if number == signal.SIGINT else signal.SIGTERM)

    def run(self):
        for number in (signal.SIGINT, signal.SIGTERM):
            signal.signal(number, self.on_signal)
        signal.signal(signal.SIGHUP, signal.SIG_IGN)  # no terminal to lose
        self.save()
        shown = None
        while True:
            if not self.status["interrupted"] and os.path.exists(self.stop_file):
                self.on_signal(signal.SIGINT, None)
            for line in self.lines:
                if line.status["state"] != "waiting":
                    continue
                if self.status["interrupted"]:
                    line.status.update(state="not run", reason="interrupted before it started")
                elif self.side_by_side or not any(l.status["state"] == "running"
                                                  for l in self.lines):
                    line.start()
            changed = any([line.check(self.timeout) for line in self.lines])
            if all(l.status["state"] in ("ended", "not run") for l in self.lines):
                break
            progress = [line.status["progress"] for line in self.lines]
            if changed or progress != shown:
                shown = progress
                self.save()
            time.sleep(TICK)
        self.status.update(state="ended", ended=now())
        self.save()


def missing_folders(folder):
    """The folders that would have to be made for folder, outermost first."""
    missing = []
    while folder and not os.path.isdir(folder):
        missing.insert(0, folder)
        folder = os.path.dirname(folder)
    return missing


def remove_made(lock_path, lock_existed, made):
    if not lock_existed:
        try:
            os.unlink(lock_path)
        except FileNotFoundError:
            pass
    for folder in reversed(made):
        try:
            os.rmdir(folder)
        except OSError:  # something else is in it now: it stays
            break


def daemonize(module, params):
    """The runner in a process of its own that outlives this one; its first
    word (started, or why not) comes back through a pipe."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid:
        os.close(write_end)
        os.waitpid(pid, 0)
        with os.fdopen(read_end, "rb") as pipe:
            word = pipe.read().decode("utf-8", "replace")
        if word.startswith("started "):
            module.exit_json(changed=True, pid=int(word.split()[1]))
        module.fail_json(msg=word or "the runner did not start")
    os.close(read_end)
    os.setsid()
    if os.fork():
        os._exit(0)
    null = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(null, fd)
    pipe = os.fdopen(write_end, "wb")
    try:
        made = missing_folders(os.path.dirname(params["lock"]))
        lock_existed = os.path.exists(params["lock"])
        os.makedirs(params["dir"], exist_ok=True)
        os.makedirs(os.path.dirname(params["lock"]), exist_ok=True)
        lock = open(params["lock"], "a+")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            lock.seek(0)
            held = lock.read().strip() or "unknown"
            pipe.write(f"olvex-cli still runs on this gateway's lines ({held}); "
                       "wait for it to end, or stop it, then run again".encode())
            pipe.close()
            os._exit(1)
        lock.seek(0)
        lock.truncate()
        lock.write(f"run folder {params['dir']}, runner pid {os.getpid()}\n")
        lock.flush()
        runner = Runner(params)
        runner.save()
        pipe.write(f"started {os.getpid()}".encode())
        pipe.close()
        runner.run()
        if params["leave_nothing"]:
            remove_made(params["lock"], lock_existed, made)
    except Exception as error:  # the word must come back, whatever it is
        try:
            pipe.write(f"the runner failed: {error}".encode())
            pipe.close()
        except (OSError, ValueError):
            pass
        os._exit(1)
    os._exit(0)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            dir=dict(type="path", required=True),
            lines=dict(type="list", elements="raw", required=True),
            side_by_side=dict(type="bool", default=False),
            timeout=dict(type="int", required=True),
            lock=dict(type="path", required=True),
            leave_nothing=dict(type="bool", default=False),
        ),
        supports_check_mode=False,
    )
    for line in module.params["lines"]:
        if not isinstance(line, dict) or not line.get("name") or not line.get("port"):
            module.fail_json(msg=f"each line needs a name and a port, got {line!r}")
    daemonize(module, module.params)


if __name__ == "__main__":
    main()
