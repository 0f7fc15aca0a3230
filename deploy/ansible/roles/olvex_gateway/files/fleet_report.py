#!/usr/bin/env python3
"""The fleet's bookkeeping on the controller: what each line is to write, and
the report of a run.

    fleet_report.py plan JSON
    fleet_report.py merge RUN_DIR

plan: JSON describes one gateway (host, mode, dryRun, lines, image, imageType,
imageSha256, cli, logDir, state, skipUpdated). Prints, as JSON, an entry per
line: its name, port, the devices named ("all" or addresses), the olvex-cli
command (argv) or why the line is not run (skip), and the devices the fleet
state already knows as updated with this image (already). A flash writes only
the devices not yet updated with this image: a line whose devices all are is
not run, and one with some left names those left. Which device an address
names is olvex-cli's to say (its JSON's "named"); the state keeps the
addresses that named each device, so the plan compares names, never bytes.

merge: RUN_DIR holds run.json (the run: mode, dryRun, image, hosts, and what
stopped it before any line, if anything did) and a folder per gateway with
gateway.json (its lines and the problem that kept it from them, if any), and
for each line NAME.run.json (the plan's entry and how the line ran: state,
started, ended, exitCode, stderr) and NAME.json (the report olvex-cli printed
with --json). Writes RUN_DIR/fleet.csv (a row per device, and per line
without one), RUN_DIR/fleet.json and RUN_DIR/summary.txt, which it also
prints; after a flash it brings the fleet state (fleet-state.json,
fleet-state.csv beside the runs) up to date, and it writes flash.retry there
with the gateways that did not end well, or removes it. A run in which no
line ran leaves both as they were.
"""

import csv
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "module_utils"))
from olvex_fleet import line_name, read_json, write_text  # noqa: E402  pylint: disable=wrong-import-position

# What olvex-cli said of the image's signature: the signer's key id, the
# signed type and version (blank for an image that is not signed).
SIGNED = ["signer_key_id", "signed_type", "signed_version"]
COLUMNS = ["host", "port", "address", "type", "version_found", "outcome",
           "parts", "parts_total", "repeats", "seconds", "reason",
           "line_started", "line_ended", "image", "image_sha256", "image_type"] + SIGNED
STATE_COLUMNS = ["host", "port", "address", "id", "type", "version_found", "outcome",
                 "reason", "image", "image_sha256", "image_type", "run", "ended"] + SIGNED
STATE_FILE = "fleet-state.json"
RETRY_FILE = "flash.retry"

# The runner's own exit statuses for a line, where olvex-cli's JSON cannot
# say what its exit status means: the line's time limit, no olvex-cli to run.
# Every other meaning is olvex-cli's own (exitMeaning in its report).
RUNNER_EXIT_TEXTS = {
    124: "stopped after olvex_line_timeout seconds",
    126: "olvex-cli cannot be started",
    127: "olvex-cli is not installed",
}
WRITTEN = ("updated", "failed", "not started")  # a flash aimed at the device
SHOWN = 10  # lines still to do named in the summary


def named_by(report):
    """Each address the line named, as given, with the whole addresses of the
    devices found that it names: olvex-cli matches, the recipe only reads."""
    return {str(n.get("address", "")): n.get("ids") or []
            for n in (report or {}).get("named") or [] if isinstance(n, dict)}


def names_of(device):
    """The addresses a device is known by: as olvex-cli shows it, whole, and
    as the inventory named it in the runs that wrote it."""
    return {device.get("address"), device.get("id")} | set(device.get("named_as") or [])


def signed_facts(signature):
    """The signature's facts for a row, as olvex-cli's JSON gives them: only
    for a signature that verified."""
    if not isinstance(signature, dict) or signature.get("state") != "signed":
        return dict.fromkeys(SIGNED, "")
    return {"signer_key_id": signature.get("keyId") or "",
            "signed_type": signature.get("type") or "",
            "signed_version": signature.get("version") or ""}


def state_of(path):
    state = read_json(path) if path else None
    return state if isinstance(state, dict) else {"devices": [], "lines": []}


# ---- plan ----------------------------------------------------------------

def updated_here(state, host, port, sha):
    return {d["id"]: d for d in state.get("devices", [])
            if d.get("host") == host and d.get("port") == port
            and d.get("image_sha256") == sha and d.get("outcome") == "updated"}


def last_seen_of_type(state, host, port, device_type):
    """The devices of this type the line's latest search found."""
    here = [d for d in state.get("devices", []) if d.get("host") == host and d.get("port") == port]
    if not here:
        return []
    latest = max(d.get("seen", "") for d in here)
    return [d["id"] for d in here if d.get("seen") == latest and d.get("type") == device_type]


def plan_line(gateway, line, state):
    port = line["port"]
    name = line_name(port)
    devices = line.get("devices", "all")
    if devices != "all":
        devices = [str(a).strip() for a in devices]
    entry = {"name": name, "port": port, "devices": devices, "argv": None, "skip": None,
             "already": []}
    mode, device_type, sha = gateway["mode"], gateway.get("imageType"), gateway.get("imageSha256")
    flashing = mode == "flash"
    chosen = devices
    if flashing and gateway.get("skipUpdated", True):
        updated = updated_here(state, gateway["host"], port, sha)
        entry["already"] = sorted(updated)
        if updated:
            if devices == "all":
                left = [i for i in last_seen_of_type(state, gateway["host"], port, device_type)
                        if i not in updated]
            else:
                known = set().union(*(names_of(d) for d in updated.values()))
                left = [a for a in devices if a not in known]
            if not left:
                entry["skip"] = "every device already updated with this image"
                return entry
            chosen = left
    cli = gateway["cli"]
    if not flashing or gateway.get("dryRun"):
        # The devices named go with the scan, for olvex-cli to say which
        # devices each names.
        entry["argv"] = [cli, "scan", port, "--json"] + (
            [] if chosen == "all" else ["--device", ",".join(chosen)])
        return entry
    entry["argv"] = ([cli, "flash", port, gateway["image"]]
                     + (["--all"] if chosen == "all" else ["--device", ",".join(chosen)])
                     + ["--type", device_type] + list(gateway.get("signing") or [])
                     + ["--json", "--log", f"{gateway['logDir']}/{name}.log"])
    return entry


def plan(argv):
    gateway = json.loads(argv[0])
    state = state_of(gateway.get("state"))
    print(json.dumps([plan_line(gateway, line, state) for line in gateway["lines"]]))


# ---- merge ---------------------------------------------------------------

def exit_code(line):
    """The exit status, a number or None."""
    try:
        return int(line.get("exitCode"))
    except (TypeError, ValueError):
        return None


def exit_text(code, report):
    """What the exit status means: the runner's word for its own statuses,
    otherwise olvex-cli's, as its report gives it."""
    if code in RUNNER_EXIT_TEXTS:  # olvex-cli never ends with these itself
        return RUNNER_EXIT_TEXTS[code]
    if isinstance(report, dict) and report.get("exitCode") == code:
        return report.get("exitMeaning") or ""
    return ""


def tool_error(line, report):
    """What olvex-cli said was wrong, less the line it names first (the row has it)."""
    if report and report.get("error"):
        said = report["error"]
    else:
        lines = [text for text in (line.get("stderr") or "").splitlines() if text.strip()]
        said = lines[-1].removeprefix("olvex-cli: ") if lines else ""
    return said.removeprefix(f"{line['port']}: ")


class Merge:
    def __init__(self, run_dir):
        self.run_dir = Path(run_dir)
        self.reports = self.run_dir.parent
        self.run = read_json(self.run_dir / "run.json") or {}
        self.mode = self.run.get("mode", "flash")
        self.dry = bool(self.run.get("dryRun"))
        self.image = self.run.get("image") or {}
        # A mistake in the settings stopped the run before any line.
        self.stopped = self.run.get("stopped") or ""
        self.state = state_of(self.reports / STATE_FILE)
        self.rows, self.lines, self.sites, self.summary = [], [], {}, []
        self.unrun = {}  # gateways that ran no line, with the reason
        self.not_reached = {}
        self.signature = None  # as olvex-cli found it, on the first gateway that checked it

    # One device's row, as olvex-cli's report and the plan tell it.
    def device_row(self, line, device, shown, report):
        address = device.get("address", "")
        if shown.count(address) > 1:  # two devices share the six bytes shown
            address = device.get("id", address)
        row = self.row(line, address=address, type=device.get("type", ""),
                       version_found=device.get("version") or "unknown", outcome="found")
        row["id"] = device.get("id", "")
        if self.mode != "flash":
            return row
        named_as = [a for a, ids in named_by(report).items() if row["id"] in ids]
        row["named_as"] = named_as
        named = line["devices"] == "all" or bool(named_as)
        already = row["id"] in line.get("already", [])
        if "outcome" in device and device["outcome"] != "not selected":
            row.update(outcome=device["outcome"], parts=device.get("partsAcknowledged"),
                       parts_total=device.get("partsTotal"), repeats=device.get("repeats"),
                       seconds=device.get("seconds"), reason=device.get("reason", ""))
            if row["outcome"] == "not started" and not row["reason"]:
                row["reason"] = self.unstarted(line, report)
        elif already:
            row.update(outcome="already updated", reason=self.earlier(line, row["id"]))
        elif device.get("type") != self.image.get("type"):
            row.update(outcome="not selected", reason="other type")
        elif not named:
            row.update(outcome="not selected", reason="not named")
        elif self.dry:
            row["outcome"] = "would update"
        elif line["devices"] == "all" and "--device" in (line.get("argv") or []):
            # Not on the line when the plan named the devices left to write.
            row.update(outcome="not started", reason="new on the line: the next run writes it")
        else:  # the line ended before its update began
            row.update(outcome="not started", reason=self.unstarted(line, report))
        return row

    @staticmethod
    def unstarted(line, report):
        """Why a device the line was to write was not started."""
        if (report or {}).get("interrupted") or line.get("interrupted"):
            return "interrupted before its turn"
        if line.get("timedOut"):
            return "olvex_line_timeout ran out before its turn"
        return "the line ended before its turn"

    def row(self, line, **fields):
        row = dict.fromkeys(COLUMNS, "")
        row.update(host=line["host"], port=line["port"], line_started=line.get("started") or "",
                   line_ended=line.get("ended") or "", image=self.image.get("file", ""),
                   image_sha256=self.image.get("sha256", ""), image_type=self.image.get("type", ""),
                   **signed_facts(line.get("signature")))
        row.update(fields)
        return row

    def earlier(self, line, device_id):
        """Why a device was not written: the run that updated it with this image."""
        for known in self.state.get("devices", []):
            if (known.get("host"), known.get("port"), known.get("id")) == (
                    line["host"], line["port"], device_id):
                return f"updated with this image by run {known.get('run') or '?'}"
        return "updated with this image before"

    def named_problems(self, line, devices, rows, report):
        """What a flash would refuse about the devices the line names."""
        problems = []
        if line["devices"] == "all":
            return problems
        named = named_by(report)
        for address in line["devices"]:  # as the plan gave them
            if address not in named:  # already updated: not asked for
                continue
            found = [d for d in devices if d.get("id") in named[address]]
            if not found:
                rows.append(self.row(line, address=address, outcome="not found",
                                     reason="named but not on the line"))
                problems.append(f"not found on the line: {address}")
            elif len(found) > 1:
                problems.append(f"{address} names {len(found)} devices; give all eight bytes")
            elif found[0].get("type") != self.image.get("type"):
                problems.append(f"{address} is {found[0].get('type')}, not {self.image.get('type')}:"
                                " the flash would refuse it")
        return problems

    def line_rows(self, line, report):
        devices = report.get("devices", []) if report else []
        shown = [d.get("address", "") for d in devices]
        rows = [self.device_row(line, d, shown, report) for d in devices]
        problems = []
        if self.mode == "flash" and devices:  # the line was searched
            problems = self.named_problems(line, devices, rows, report)
        return rows, problems

    def skipped_rows(self, line):
        """A line not run: its devices already updated, as the fleet state has them."""
        known = {d["id"]: d for d in self.state.get("devices", [])
                 if d.get("host") == line["host"] and d.get("port") == line["port"]}
        rows = []
        for device_id in line.get("already", []):
            device = known.get(device_id, {})
            rows.append(self.row(line, address=device.get("address", device_id),
                                 type=device.get("type", ""),
                                 version_found=device.get("version_found", ""),
                                 outcome="already updated", reason=self.earlier(line, device_id)))
            rows[-1]["id"] = device_id
        return rows

    def line_problem(self, line, report, rows, problems):
        port = line["port"]
        if line.get("state") == "not run":
            if line.get("skip"):
                return None
            return f"{port}: not run: {line.get('reason') or 'unknown'}"
        code = exit_code(line)
        if code is None:
            why = line.get("reason") or line.get("gatewayProblem") or "unknown"
            return f"{port}: olvex-cli gave no result: {why}"
        if code == 0:
            return f"{port}: " + "; ".join(problems) if problems else None
        text = exit_text(code, report) or "olvex-cli ended abnormally"
        detail = tool_error(line, report)
        if code == 1:
            failed = [r["address"] for r in rows if r["outcome"] == "failed"]
            detail = ", ".join(failed) + (" failed" if failed else "")
        return f"{port}: {text} (exit status {code})" + (f": {detail}" if detail else "")

    def merge_line(self, line, report):
        if line.get("state") == "not run":
            rows, problems = (self.skipped_rows(line) if line.get("skip") else []), []
        else:
            rows, problems = self.line_rows(line, report)
        problem = self.line_problem(line, report, rows, problems)
        reached = bool(rows)  # its devices are known, and counted
        if not rows:
            outcome = "not run" if line.get("state") == "not run" else "line failed"
            reason = (line.get("reason") if outcome == "not run"
                      else tool_error(line, report) or exit_text(exit_code(line), report)
                      or f"no result: {line.get('gatewayProblem') or 'unknown'}")
            rows = [self.row(line, outcome=outcome, reason=reason or "unknown")]
        return rows, problem, reached

    def gateway_lines(self, host, gateway):
        """Each line of the gateway, as it ran or why it did not."""
        lines = []
        given_lines = gateway.get("lines")
        for given in given_lines if isinstance(given_lines, list) else []:
            port = given.get("port", "") if isinstance(given, dict) else str(given)
            record = read_json(self.run_dir / host / f"{line_name(port)}.run.json")
            if record is None:
                record = {"port": port, "devices": (given.get("devices", "all")
                                                    if isinstance(given, dict) else "all"),
                          "state": "not run",
                          "reason": gateway.get("problem") or self.stop_reason()
                          or "no record of this line"}
            record["host"] = host
            record["gatewayProblem"] = gateway.get("problem")
            record["signature"] = gateway.get("signature")
            lines.append(record)
        return lines

    def stop_reason(self):
        """Why a gateway without a mistake of its own did not run, when the run stopped."""
        return f"stopped before its lines: {self.stopped}" if self.stopped else ""

    def merge_gateway(self, host, gateway):
        if gateway is None:
            gateway = {"problem": "failed before its lines (see the playbook's output)",
                       "lines": []}
        # In the summary, the run's own mistake is said once, above the gateways.
        said = gateway.get("problem") or ("stopped before its lines" if self.stopped else None)
        rows, problems, lines = [], [], []
        for line in self.gateway_lines(host, gateway):
            report = read_json(self.run_dir / host / f"{line_name(line['port'])}.json")
            if isinstance(report, dict) and isinstance(report.get("signature"), dict):
                line["signature"] = report["signature"]  # as the flash itself found it
            line_rows, problem, reached = self.merge_line(line, report)
            rows += line_rows
            if problem:
                problems.append(problem)
            lines.append({"host": host, "port": line["port"], "state": line.get("state"),
                          "started": line.get("started"), "ended": line.get("ended"),
                          "exitCode": exit_code(line), "skip": line.get("skip"),
                          "problem": problem, "reached": reached})
        if not lines:
            problem = gateway.get("problem") or self.stop_reason() or "no lines"
            problems.append(f"not run: {said or problem}")
            rows.append(self.row({"host": host, "port": "", "signature": gateway.get("signature")},
                                 outcome="not run", reason=problem))
            self.unrun[host] = problem
        elif said and all(l["state"] == "not run" for l in lines):
            problems = [f"not run: {said}"]
        return rows, problems, lines

    def count_text(self, rows, lines=None):
        outcomes = [r["outcome"] for r in rows]
        count = outcomes.count
        if self.mode == "scan":
            return (plural(count("found"), "device") + " found"
                    + (f" on {plural(lines, 'line')}" if lines else ""))
        if self.dry:
            text = f"{count('would update')} would be updated"
        else:
            text = f"{count('updated')} updated, {count('failed')} failed, {count('not started')} not started"
        if count("already updated"):
            text += f", {count('already updated')} already updated"
        others = sum(1 for r in rows if r["outcome"] == "not selected" and r["reason"] == "other type")
        if others:
            text += f", {others} not selected (other type)"
        return text

    def counts(self, rows):
        outcomes = [r["outcome"] for r in rows]
        return {key: outcomes.count(outcome) for key, outcome in (
            ("updated", "updated"), ("failed", "failed"), ("notStarted", "not started"),
            ("alreadyUpdated", "already updated"), ("wouldUpdate", "would update"),
            ("notSelected", "not selected"), ("notFound", "not found"), ("found", "found"))}

    def headline(self):
        run = self.run.get("run", self.run_dir.name)
        if self.mode == "scan":
            return f"run {run}: scan"
        what = "dry run (--check) of a flash" if self.dry else "flash"
        signed = signed_facts(self.signature)
        return (f"run {run}: {what} of {self.image.get('file', '?')} for"
                f" {self.image.get('type') or '?'} (SHA-256 {self.image.get('sha256') or '?'})"
                + (f", signed by key {signed['signer_key_id']} for {signed['signed_type'] or 'any type'}"
                   f", version {signed['signed_version'] or 'not given'}"
                   if signed["signer_key_id"] else ""))

    def merge(self):
        hosts = self.run.get("hosts") or sorted(p.name for p in self.run_dir.iterdir() if p.is_dir())
        gateways = {host: read_json(self.run_dir / host / "gateway.json") for host in hosts}
        # The signature as the first gateway that checked the image found it.
        for gateway in gateways.values():
            if isinstance(gateway, dict) and isinstance(gateway.get("signature"), dict):
                self.signature = gateway["signature"]
                if self.image:
                    self.image["signature"] = self.signature
                break
        self.summary.append(self.headline())
        if self.stopped:
            self.summary.append(f"stopped before any line, nothing written: {self.stopped}")
        failed, unreached = [], []
        for host in hosts:
            rows, problems, lines = self.merge_gateway(host, gateways[host])
            self.rows += rows
            self.lines += lines
            if problems:
                failed.append(host)
            if not any(l["reached"] for l in lines):
                unreached.append(host)
            self.sites[host] = dict(self.counts(rows), lines=len(lines), problems=problems)
            if all(l["state"] == "not run" and not l["skip"] for l in lines) and problems:
                self.summary.append(f"{host}: " + "; ".join(problems))
            else:
                self.summary.append(f"{host}: {self.count_text(rows, len(lines))}"
                                    + "".join(f"; {p}" for p in problems))
        lines_unreached = sum(1 for l in self.lines if not l["reached"])
        self.not_reached = {"sitesNotReached": len(unreached), "linesNotReached": lines_unreached}
        self.summary.append(
            f"all: {self.count_text(self.rows)} ({plural(len(hosts), 'site')}, {len(failed)} failed"
            + (f", {len(unreached)} not reached" if unreached else "")
            + f"; {plural(len(self.lines), 'line')}"
            + (f", {lines_unreached} not reached" if lines_unreached else "") + ")")
        # A run in which no line ran (stopped by a mistake, no gateway reached, the image
        # refused) knows nothing new of the fleet: the state and the retry file stay.
        ran = any(l["state"] != "not run" or l["skip"] for l in self.lines)
        if self.mode == "flash" and not self.dry:
            if ran:
                self.update_state()
            else:
                self.summary.append(f"fleet: nothing ran; {STATE_FILE} and {RETRY_FILE} are as"
                                    " the last run left them")
        self.write(hosts, failed, ran)

    # ---- the fleet state: the latest outcome of every device across runs ----

    def update_state(self):
        run = self.run.get("run", self.run_dir.name)
        devices = {(d["host"], d["port"], d["id"]): d for d in self.state.get("devices", [])}
        lines = {(l["host"], l["port"]): l for l in self.state.get("lines", [])}
        # A gateway that ran no line stands for all its lines, until it runs them.
        for line in self.lines:
            lines.pop((line["host"], ""), None)
        unrun = [{"host": host, "port": "", "problem": f"not run: {problem}"}
                 for host, problem in self.unrun.items()]
        for line in self.lines + unrun:
            key = (line["host"], line["port"])
            if key in lines and lines[key].get("run", "") > run:
                continue  # a later run has the word
            lines[key] = {"host": line["host"], "port": line["port"], "run": run,
                          "image": self.image.get("file"), "image_sha256": self.image.get("sha256"),
                          "image_type": self.image.get("type"),
                          "outcome": "not done" if line["problem"] else "done",
                          "problem": line["problem"], "reached": line.get("reached", False)}
        for row in self.rows:
            if not row.get("id"):
                continue
            key = (row["host"], row["port"], row["id"])
            known = devices.get(key)
            if known and known.get("seen", "") > run:
                continue
            entry = dict(known or {})
            entry.update(host=row["host"], port=row["port"], id=row["id"], address=row["address"],
                         type=row["type"], version_found=row["version_found"], seen=run,
                         named_as=sorted(set(entry.get("named_as") or [])
                                         | set(row.get("named_as") or [])))
            if row["outcome"] in WRITTEN:
                entry.update(outcome=row["outcome"], reason=row["reason"] or "",
                             image=row["image"], image_sha256=row["image_sha256"],
                             image_type=row["image_type"], run=run, ended=row["line_ended"],
                             **{key: row[key] for key in SIGNED})
            elif not known:
                entry.update(outcome=row["outcome"], reason=row["reason"] or "", image="",
                             image_sha256="", image_type="", run="", ended="",
                             **dict.fromkeys(SIGNED, ""))
            devices[key] = entry
        sha = self.image.get("sha256")
        open_lines = [l for l in lines.values()
                      if l.get("image_sha256") == sha and l["outcome"] != "done"]
        not_done = [f"{l['host']}: {l['problem']}" for l in open_lines]
        aimed = [d for d in devices.values() if d.get("image_sha256") == sha]
        # A device not updated whose line ended well since (rare): named too.
        open_keys = {(l["host"], l["port"]) for l in open_lines}
        not_done += [f"{d['host']} {d['port']} {d['address']}: {d['outcome']}"
                     + (f" ({d['reason']})" if d.get("reason") else "")
                     for d in aimed if d["outcome"] != "updated"
                     and (d["host"], d["port"]) not in open_keys]
        done_count = sum(1 for d in aimed if d["outcome"] == "updated")
        unreached = self.unreached(lines.values(), aimed)
        self.state = {"run": run, "image": self.image, "done": not not_done, "notDone": not_done,
                      "lines": sorted(lines.values(), key=lambda l: (l["host"], l["port"])),
                      "devices": sorted(devices.values(),
                                        key=lambda d: (d["host"], d["port"], d["id"]))}
        file = self.image.get("file", "?")
        if not_done:
            named = [f"{l['host']} {l['port']}".rstrip() for l in open_lines][:SHOWN]
            more = len(open_lines) - len(named)
            self.summary.append(
                f"fleet: not done, {done_count} of {plural(len(aimed), 'device')} updated with"
                f" {file}" + (f"; {unreached} not reached (their devices are not counted)"
                              if unreached else "")
                + (f"; lines to do: {', '.join(named)}" if named else "")
                + (f" and {more} more" if more > 0 else "")
                + f" ({STATE_FILE} says why)")
        else:
            self.summary.append(f"fleet: done, all {plural(done_count, 'device')} updated with {file}")
        write_text(self.reports / STATE_FILE, json.dumps(self.state, indent=2) + "\n")
        write_text(self.reports / "fleet-state.csv",
                   csv_text(STATE_COLUMNS, self.state["devices"]))

    def unreached(self, lines, aimed):
        """The sites and lines of this image whose devices no run has listed:
        '2 of 5 sites and 3 of 9 lines', or ''."""
        sha = self.image.get("sha256")
        this = [l for l in lines if l.get("image_sha256") == sha]
        counted = {(d["host"], d["port"]) for d in aimed}
        known = {(l["host"], l["port"]) for l in this if l["outcome"] == "done" or l.get("reached")} | counted
        unknown = [l for l in this if (l["host"], l["port"]) not in known]
        sites = {l["host"] for l in this}
        sites_unknown = sites - {host for host, _ in known}
        ports = [l for l in this if l["port"]]  # a gateway that ran no line stands for its lines
        ports_unknown = [l for l in unknown if l["port"]]
        parts = ([f"{len(sites_unknown)} of {plural(len(sites), 'site')}"] if sites_unknown else []) \
            + ([f"{len(ports_unknown)} of {plural(len(ports), 'line')}"] if ports_unknown else [])
        return " and ".join(parts)

    def write(self, hosts, failed, ran):
        write_text(self.run_dir / "fleet.csv", csv_text(COLUMNS, self.rows))
        document = {"run": self.run.get("run", self.run_dir.name), "mode": self.mode,
                    "dryRun": self.dry, "image": self.image or None,
                    "stopped": self.stopped or None, "columns": COLUMNS,
                    "devices": [{k: r.get(k, "") for k in COLUMNS + ["id"]} for r in self.rows],
                    "lines": self.lines, "sites": self.sites,
                    "all": dict(self.counts(self.rows), sites=len(hosts),
                                sitesFailed=len(failed), lines=len(self.lines),
                                **self.not_reached)}
        write_text(self.run_dir / "fleet.json", json.dumps(document, indent=2) + "\n")
        write_text(self.run_dir / "summary.txt", "\n".join(self.summary) + "\n")
        # The gateways to run again, as the last run that ran a line left them.
        retry = self.reports / RETRY_FILE
        if ran and failed:
            write_text(retry, "\n".join(failed) + "\n")
        elif ran and retry.exists():
            retry.unlink()
        print("\n".join(self.summary))


def plural(count, word):
    return f"{count} {word}" + ("" if count == 1 else "s")


def csv_text(columns, rows):
    class Text:
        def __init__(self):
            self.parts = []

        def write(self, part):
            self.parts.append(part)

    out = Text()
    writer = csv.DictWriter(out, fieldnames=columns, restval="", extrasaction="ignore",
                            lineterminator="\n")
    writer.writeheader()
    writer.writerows({k: ("" if v is None else v) for k, v in r.items()} for r in rows)
    return "".join(out.parts)


def main(argv):
    if len(argv) == 3 and argv[1] == "plan":
        plan(argv[2:])
    elif len(argv) == 3 and argv[1] == "merge":
        Merge(argv[2]).merge()
    else:
        sys.exit("usage: fleet_report.py plan JSON | merge RUN_DIR")


if __name__ == "__main__":
    main(sys.argv)
