#!/usr/bin/env python3
"""Merges the line reports of one run into the fleet report.

    fleet_report.py RUN_DIR MODE HOST...

RUN_DIR holds a folder per gateway with, for each line, NAME.run.json (how
olvex-cli ran: host, port, devices, mode, exitCode, stderr, message) and
NAME.json (the report olvex-cli printed with --json). MODE is flash or scan;
HOST... are every gateway the run aimed at, reached or not.

Writes RUN_DIR/fleet.csv (a row per device), RUN_DIR/fleet.json (the rows,
the lines, the counts per site and in all, and each site's problems) and
RUN_DIR/summary.txt, which it also prints.
"""

import csv
import json
import sys
from pathlib import Path

COLUMNS = ["host", "port", "address", "type", "version_found", "outcome",
           "parts", "parts_total", "repeats", "seconds"]

# olvex-cli's exit statuses, as its --help lists them, and timeout's.
EXIT_TEXTS = {
    1: "some device failed",
    2: "usage error, image refused, or devices of different types",
    3: "the port cannot be opened, or it was lost",
    4: "no devices found, or a named device not found",
    124: "stopped after olvex_line_timeout seconds",
    127: "olvex-cli is not installed",
    130: "interrupted (SIGINT)",
    143: "interrupted (SIGTERM)",
}


def read_json(path):
    try:
        return json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return None


def address_key(text):
    return text.strip().lower().replace("-", ":")


def named(line, device):
    """Whether the line's olvex_lines entry chose this device."""
    if line["devices"] == "all":
        return True
    return any(device.get("id", "").startswith(address_key(a)) for a in line["devices"])


def tool_error(line, report):
    if report and report.get("error"):
        return report["error"]
    said = [l for l in line.get("stderr", "").splitlines() if l.strip()]
    return said[-1].removeprefix("olvex-cli: ") if said else ""


def device_rows(line, report):
    devices = report.get("devices", []) if report else []
    shown = [d.get("address", "") for d in devices]
    rows = []
    for device in devices:
        # Where two devices of the line share the six bytes shown, all eight.
        address = device.get("address", "")
        if shown.count(address) > 1:
            address = device.get("id", address)
        row = {"host": line["host"], "port": line["port"], "address": address,
               "type": device.get("type", ""),
               "version_found": device.get("version") or "unknown",
               "outcome": "found", "parts": None, "parts_total": None, "repeats": None,
               "seconds": None}
        if line["mode"] == "flash":
            if "outcome" in device:
                row.update(outcome=device["outcome"],
                           parts=device.get("partsAcknowledged"),
                           parts_total=device.get("partsTotal"),
                           repeats=device.get("repeats"),
                           seconds=device.get("seconds"))
            elif device.get("selected") is False or not named(line, device):
                row["outcome"] = "not selected"
            else:
                # The line ended before its update began.
                row["outcome"] = "not started"
        if "reason" in device:
            row["reason"] = device["reason"]
        rows.append(row)
    return rows


def exit_code(line):
    """The exit status, a number or None (Ansible may hand it over as text)."""
    try:
        return int(line.get("exitCode"))
    except (TypeError, ValueError):
        return None


def problem_of(line, report, rows):
    """What went wrong on a line, in a sentence, or None."""
    code = exit_code(line)
    if code == 0:
        return None
    port = line["port"]
    if code is None:
        return f"{port}: olvex-cli gave no result: {line.get('message') or 'unknown'}"
    text = EXIT_TEXTS.get(code, "olvex-cli ended abnormally")
    detail = tool_error(line, report)
    if code == 1:
        failed = [r["address"] for r in rows if r["outcome"] == "failed"]
        detail = ", ".join(failed) + (" failed" if failed else "")
    return f"{port}: {text} (exit status {code})" + (f": {detail}" if detail else "")


def counts(rows):
    outcomes = [r["outcome"] for r in rows]
    return {"updated": outcomes.count("updated"), "failed": outcomes.count("failed"),
            "notStarted": outcomes.count("not started"), "found": len(rows)}


def count_text(mode, tally, lines=None):
    if mode == "scan":
        return f"{tally['found']} devices found" + (f" on {lines} lines" if lines is not None else "")
    return f"{tally['updated']} updated, {tally['failed']} failed, {tally['notStarted']} not started"


def main(argv):
    if len(argv) < 3:
        sys.exit("usage: fleet_report.py RUN_DIR flash|scan HOST...")
    run_dir, mode, hosts = Path(argv[1]), argv[2], argv[3:]
    rows, lines, sites, summary = [], [], {}, []
    for host in hosts:
        runs = sorted((run_dir / host).glob("*.run.json"))
        site_rows, problems = [], []
        for run_file in runs:
            line = read_json(run_file)
            if line is None:
                problems.append(f"{run_file.name}: unreadable")
                continue
            report = read_json(run_file.with_name(run_file.name.removesuffix(".run.json") + ".json"))
            line_rows = device_rows(line, report)
            if not line_rows:
                line_rows = [dict(dict.fromkeys(COLUMNS), host=host, port=line["port"],
                                  outcome="line failed")]
            problem = problem_of(line, report, line_rows)
            if problem:
                problems.append(problem)
            lines.append({"host": host, "port": line["port"], "exitCode": exit_code(line),
                          "problem": problem})
            site_rows += [r for r in line_rows if r["outcome"] != "line failed"]
            rows += line_rows
        if not runs:
            problems.append("not reached: no report from this gateway")
        tally = counts(site_rows)
        sites[host] = dict(tally, lines=len(runs), reached=bool(runs), problems=problems)
        text = count_text(mode, tally, len(runs)) if runs else "not reached"
        summary.append(f"{host}: {text}" + "".join(f"; {p}" for p in problems if runs))

    tally = counts([r for r in rows if r["outcome"] != "line failed"])
    failed_sites = sum(1 for s in sites.values() if s["problems"] and s["reached"])
    unreached = sum(1 for s in sites.values() if not s["reached"])
    every = dict(tally, sites=len(hosts), sitesFailed=failed_sites, sitesNotReached=unreached,
                 lines=len(lines))
    summary.append(f"all: {count_text(mode, tally)}"
                   f" ({len(hosts)} sites, {failed_sites} failed, {unreached} not reached;"
                   f" {len(lines)} lines)")

    columns = COLUMNS + (["reason"] if any("reason" in r for r in rows) else [])
    with open(run_dir / "fleet.csv", "w", newline="", encoding="utf-8") as out:
        writer = csv.DictWriter(out, fieldnames=columns, restval="")
        writer.writeheader()
        writer.writerows(rows)
    document = {"run": run_dir.name, "mode": mode, "columns": columns, "devices": rows,
                "lines": lines, "sites": sites, "all": every}
    (run_dir / "fleet.json").write_text(json.dumps(document, indent=2) + "\n", encoding="utf-8")
    (run_dir / "summary.txt").write_text("\n".join(summary) + "\n", encoding="utf-8")
    print("\n".join(summary))


if __name__ == "__main__":
    main(sys.argv)
