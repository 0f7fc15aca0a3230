# -*- coding: utf-8 -*-
# Copyright: Ruvo; MIT licence (see the project's LICENSE)
"""Checks a run's settings on the controller, before any gateway is contacted.

scope=host, for each gateway: every variable meta/main.yml declares, checked
as Ansible checks a role's arguments, and what a declaration cannot say (each
line's port and devices, the lines' report names, olvex_batch's form, a site
run from the controller run there). Each mistake is one sentence, marked as
the controller's when its value came with -e (the same for every gateway).

scope=run, once, with every gateway's result: what only the whole run shows
(one value for the run, one folder for each gateway on a machine) and the
image on the controller. Then whether the run stops before any line: a
mistake of the controller's stops it; so does a gateway's own, unless that
gateway's olvex_skip_misconfigured leaves it out. Says so in one line.
"""

from __future__ import annotations

import difflib
import hashlib
import os
import re
import sys
from collections.abc import Mapping, Sequence

from ansible.errors import AnsibleError
from ansible.module_utils.common.arg_spec import ArgumentSpecValidator
from ansible.plugins.action import ActionBase
from ansible.utils.display import Display
from ansible.utils.vars import load_extra_vars

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "module_utils"))
from olvex_fleet import line_name  # noqa: E402  pylint: disable=wrong-import-position

display = Display()

# One value for the whole run: the image, what the run does and where its report goes.
RUN_WIDE = ("olvex_mode", "olvex_image", "olvex_image_type", "olvex_image_sha256",
            "olvex_require_signed", "olvex_trusted_keys", "olvex_batch", "olvex_reports")
KINDS = {"bool": "true or false", "int": "a whole number", "str": "text", "path": "a path"}
LINES = "a list of lines (- port: /dev/ttyUSB0)"
BATCH = re.compile(r"^[1-9][0-9]*%?$")
SCAN_FIRST = "To look at the fleet first, without writing anything: -e olvex_mode=scan"


def shown(value):
    """A value as the inventory would have it, in one line and without double quotes."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if value is None:
        return "nothing"
    if isinstance(value, str):
        return f"'{value}'"
    if isinstance(value, Mapping):
        return "{" + ", ".join(f"{key}: {shown(item)}" for key, item in value.items()) + "}"
    if isinstance(value, Sequence):
        return "[" + ", ".join(shown(item) for item in value) + "]"
    return str(value)


def expected(option, value):
    choices = option.get("choices")
    if not choices:
        return KINDS.get(option.get("type", "str"), option.get("type"))
    # The choice the value nearly is, case, dashes and all aside.
    squeezed = {re.sub(r"[^a-z0-9]", "", c.lower()): c for c in choices}
    meant = [squeezed[c] for c in difflib.get_close_matches(
        re.sub(r"[^a-z0-9]", "", str(value).lower()), squeezed, n=1, cutoff=0.8)]
    return "one of " + ", ".join(choices) + (f" (did you mean {meant[0]}?)" if meant else "")


def devices_problem(port, devices):
    if devices == "all" or (isinstance(devices, Sequence) and not isinstance(devices, str)
                            and devices and all(isinstance(d, str) for d in devices)):
        return None
    hint = ""
    if isinstance(devices, str) and ":" in devices:
        addresses = [d for d in re.split(r"[,;\s]+", devices) if d]
        hint = f" (devices: {shown(addresses)})"
    return f"devices of {port} is {shown(devices)}, not 'all' or a list of addresses in quotes{hint}"


def lines_problem(lines):
    """What is wrong with olvex_lines, or None."""
    if isinstance(lines, str) or not isinstance(lines, Sequence) or not lines:
        return f"is {shown(lines)}, not {LINES}"
    problems, names = [], {}
    for number, line in enumerate(lines, 1):
        if not isinstance(line, Mapping):
            problems.append(f"line {number} is {shown(line)}, not port: and, if need be, devices:")
            continue
        port = line.get("port")
        if not isinstance(port, str) or not port.strip():
            problems.append(f"line {number} has {'no port' if port is None else 'the port ' + shown(port)}"
                            ", not /dev/ttyUSB0, tcp://HOST:PORT or rfc2217://HOST:PORT")
            continue
        unknown = sorted(str(key) for key in line if key not in ("port", "devices"))
        if unknown:
            problems.append(f"{port} has {', '.join(unknown)}: a line has a port and devices only")
        problems.append(devices_problem(port, line.get("devices", "all")))
        names.setdefault(line_name(port), []).append(port)
    problems += [f"{' and '.join(ports)} end alike ({name}), and the last part of a port names"
                 " its reports: give each line its own" for name, ports in names.items() if len(ports) > 1]
    problems = [p for p in problems if p]
    return ": " + "; ".join(problems) if problems else None


def checksum(path):
    digest = hashlib.sha256()
    with open(path, "rb") as image:
        for block in iter(lambda: image.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(("scope", "declarations", "image", "hosts"))

    def options(self):
        meta = self._loader.load_from_file(self._task.args["declarations"])
        return meta["argument_specs"]["main"]["options"]

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        if self._task.args.get("scope") == "run":
            result.update(self.check_run())
        else:
            result.update(self.check_host(task_vars or {}))
        result["changed"] = False
        return result

    # ---- one gateway -------------------------------------------------------

    def check_host(self, task_vars):
        host = task_vars.get("inventory_hostname", "?")
        given = load_extra_vars(self._loader)
        mistakes, values = [], {}

        def mistake(name, text):
            mistakes.append({"variable": name, "controller": name in given, "text": text})

        def subject(name):
            return f"{name} (given with -e)" if name in given else f"{name} of {host}"

        for name, option in self.options().items():
            if name not in task_vars:
                continue
            try:
                value = self._templar.template(task_vars[name])
            except AnsibleError as error:
                mistake(name, f"{subject(name)} cannot be read: {str(error.message).splitlines()[0]}")
                continue
            if name == "olvex_lines" and lines_problem(value):
                problem = lines_problem(value)
                mistake(name, subject(name) + ("" if problem.startswith(":") else " ") + problem)
                continue
            checked = ArgumentSpecValidator({name: option}).validate({name: value})
            if checked.error_messages:
                words = (f"is {shown(value)}, not {expected(option, value)}" if name != "olvex_lines"
                         else "is wrong: " + checked.error_messages[0])
                mistake(name, f"{subject(name)} {words}")
            elif name == "olvex_batch" and not BATCH.match(str(value)):
                mistake(name, f"{subject(name)} is {shown(value)}, not a number of gateways"
                              " or a percentage (10, 25%)")
            else:
                values[name] = checked.validated_parameters[name]

        connection = self._templar.template(task_vars.get("ansible_connection") or "ssh")
        if values.get("olvex_on_controller") and connection != "local":
            mistake("olvex_on_controller", f"{host} runs its lines from the controller"
                    " (olvex_on_controller), so it needs ansible_connection: local in the inventory")
        machine = "the controller" if connection == "local" else "{}:{}".format(
            self._templar.template(task_vars.get("ansible_host", host)),
            self._templar.template(task_vars.get("ansible_port", "")))
        return {"host": host, "mistakes": mistakes, "machine": machine,
                "gatewayDir": os.path.normpath(values["olvex_gateway_dir"])
                if "olvex_gateway_dir" in values else None,
                "skip": bool(values.get("olvex_skip_misconfigured")),
                "run": {name: values[name] for name in RUN_WIDE if name in values}}

    # ---- the whole run -----------------------------------------------------

    def check_run(self):
        hosts = [h for h in self._task.args.get("hosts") or [] if isinstance(h, Mapping)]
        controller, own, wrong = [], {}, set()
        for checked in hosts:
            name = checked.get("host", "?")
            if "mistakes" not in checked:
                own.setdefault(name, []).append(f"the settings of {name} could not be checked: "
                                                f"{checked.get('msg', 'no result')}")
            for found in checked.get("mistakes", []):
                wrong.add(found["variable"])
                if not found["controller"]:
                    own.setdefault(name, []).append(found["text"])
                elif found["text"] not in controller:
                    controller.append(found["text"])
        run = {}
        for name in RUN_WIDE:
            values = {str(h["run"][name]): h["run"][name] for h in hosts if name in h.get("run", {})}
            if len(values) > 1:
                wrong.add(name)
                controller.append(f"{name} is one value for the whole run (the inventory's group vars,"
                                  f" or -e); the gateways give {', '.join(sorted(values))}")
            elif values:
                run[name] = next(iter(values.values()))
        folders = {}
        for checked in hosts:
            if not checked.get("gatewayDir"):
                continue
            key = (checked["machine"], checked["gatewayDir"])
            if key in folders:
                own.setdefault(checked["host"], []).append(
                    f"olvex_gateway_dir of {checked['host']} is {shown(key[1])}, as that of {folders[key]}"
                    f" on the same machine ({key[0]}): give each gateway one of its own")
            else:
                folders[key] = checked["host"]
        sha, signature = "", ""
        if self._task.args.get("image") and run.get("olvex_mode", "flash") == "flash":
            problem, sha = self.check_image(run, wrong)
            controller += [problem] if problem else []
            if not problem:
                problem, signature = self.check_signing(run)
                controller += [problem] if problem else []
        return dict(self.verdict(controller, own, {h["host"]: h.get("skip") for h in hosts if "host" in h},
                                 sha, run), imageSignature=signature)

    def check_image(self, run, wrong):
        """A sentence of what is wrong with the image, and its SHA-256 when it is there."""
        image = run.get("olvex_image", "")
        if not image:
            return (None if "olvex_image" in wrong
                    else f"Name the image: -e olvex_image=FILE. {SCAN_FIRST}"), ""
        if not run.get("olvex_image_type") and "olvex_image_type" not in wrong:
            choices = self.options()["olvex_image_type"]["choices"]
            return ("Name the device type the image is for: -e olvex_image_type=TYPE ("
                    + ", ".join(choices[:-1]) + f" or {choices[-1]}); devices of other types are"
                    f" left alone. {SCAN_FIRST}"), ""
        path = os.path.expanduser(image)
        if not os.path.isfile(path):
            return f"No image file at {image} on the controller", ""
        sha = checksum(path)
        release = run.get("olvex_image_sha256", "")
        if release and release.lower() != sha:
            return f"The image {image} has SHA-256 {sha}, not {release} as olvex_image_sha256 says", sha
        return None, sha

    @staticmethod
    def check_signing(run):
        """A sentence of what is wrong with the signature or the keys, and the
        signature beside the image (IMAGE.minisig), or "" when there is none.
        Whether the signature holds is olvex-cli's to say, on the gateways."""
        image = os.path.expanduser(run["olvex_image"])
        signature = image + ".minisig"
        if not os.path.isfile(signature):
            signature = ""
            if run.get("olvex_require_signed"):
                return (f"olvex_require_signed is true, but the image {run['olvex_image']} has no"
                        f" signature beside it ({run['olvex_image']}.minisig)"), ""
        names = {}
        for key in run.get("olvex_trusted_keys") or []:
            if not os.path.isfile(os.path.expanduser(key)):
                return f"olvex_trusted_keys names {key}, which is no file on the controller", signature
            if not key.endswith(".pub"):
                return (f"olvex_trusted_keys names {key}: the gateways' key folder trusts only"
                        " files whose names end in .pub"), signature
            if os.path.basename(key) in names:
                return (f"olvex_trusted_keys names {names[os.path.basename(key)]} and {key}, which"
                        " the gateways' key folder would hold under one name"), signature
            names[os.path.basename(key)] = key
        return None, signature

    def verdict(self, controller, own, skip, sha, run):
        mistakes = {host: "; ".join(texts) for host, texts in own.items()}
        stopping = [host for host in mistakes if not skip.get(host)]
        outcome = {"mistakes": mistakes, "imageSha256": sha,
                   "batch": str(run.get("olvex_batch", "25%"))}
        if not controller and not stopping:
            for host, text in mistakes.items():
                display.warning(f"{host} is left out (olvex_skip_misconfigured), its settings are wrong: {text}")
            return dict(outcome, stopped="", leftOut=sorted(mistakes))
        named = ", ".join(stopping)
        hint = "" if controller else (" (olvex_skip_misconfigured=true goes on without a gateway"
                                      " whose own settings are wrong)")
        why = controller + ([f"the settings of {named} are wrong{hint}"] if stopping else [])
        said = "; ".join(controller + list(mistakes.values()))
        return dict(outcome, stopped="; ".join(why), leftOut=[],
                    msg=f"{said}. No gateway was contacted, nothing ran"
                        + ("" if controller else f" (-e olvex_skip_misconfigured=true goes on without {named})"))
