# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""What the role's Python on the controller shares: plain Python, nothing of
Ansible, so that fleet_report.py and the action plugins import it alike
(beside them: sys.path takes this folder)."""

import os


def line_name(port):
    """The name of a line's files (its reports, its log): the last part of its
    port, with what a file name should not hold made '_'."""
    name = "".join(c if c.isalnum() or c in "._-" else "_" for c in os.path.basename(str(port)))
    while "__" in name:
        name = name.replace("__", "_")
    return name
