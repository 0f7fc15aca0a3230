# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""What the role's Python shares: plain Python, nothing of Ansible, so that
fleet_report.py and the action plugins import it alike (beside them: sys.path
takes this folder), and the module olvex_lines as Ansible gives a module its
role's module_utils (ansible.module_utils.olvex_fleet)."""

import datetime
import json
import os
import tempfile

# The time stamps of the runs' records: UTC, to the second.
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"


def now():
    return datetime.datetime.now(datetime.timezone.utc).strftime(TIME_FORMAT)


def line_name(port):
    """The name of a line's files (its reports, its log): the last part of its
    port, with what a file name should not hold made '_'."""
    name = "".join(c if c.isalnum() or c in "._-" else "_" for c in os.path.basename(str(port)))
    while "__" in name:
        name = name.replace("__", "_")
    return name


def read_json(path):
    """The JSON document in a file, or None when it is missing or no JSON."""
    try:
        with open(path, encoding="utf-8") as source:
            return json.load(source)
    except (OSError, ValueError):
        return None


def write_text(path, text):
    """Written whole or not at all: a reader never sees half a file."""
    path = str(path)
    handle, temporary = tempfile.mkstemp(dir=os.path.dirname(path) or ".",
                                         prefix="." + os.path.basename(path))
    with os.fdopen(handle, "w", encoding="utf-8", newline="") as out:
        out.write(text)
    os.chmod(temporary, 0o644)
    os.replace(temporary, path)
