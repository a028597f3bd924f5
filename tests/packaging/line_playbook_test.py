#!/usr/bin/env python3
"""The production-line playbook, run on this machine: every "station" is a
local connection with a DOS-device folder of its own and simulated devices.
Two lines run at the same time (an update lasts about 27 s): one whose
second station's device vanishes during its update, which must end with a
failed status and that device's failure in the combined report, and one
whose every device is flashed, which must end well.

Usage: line_playbook_test.py PLAYBOOK DOV_FLASH DOV_DEVSIM
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

# Each line: its stations, each with its devices as (port, devsim options),
# and the result each device must get.
LINES = {
    "vanishing": {
        "station-a": [(3, [], "ok"), (4, [], "ok")],
        "station-b": [(3, ["--vanish-after", "3000"], "transfer failed")],
    },
    "good": {
        "station-c": [(3, [], "ok")],
    },
}
BOUND_S = 240  # a whole line, stations in parallel
FIELDS = {"station", "port", "serial", "result", "duration_ms", "error"}


def start_devices(root, stations, devsim, processes):
    """Starts a simulator per device; returns each station's prefix."""
    prefixes = {}
    for station, devices in stations.items():
        prefix = root / station
        (prefix / "dosdevices").mkdir(parents=True)
        prefixes[station] = prefix
        for port, options, _ in devices:
            args = [devsim, "-p", str(port), "--timeout", str(BOUND_S),
                    "--ready-file", str(prefix / f"ready{port}"),
                    "--report", str(prefix / f"devsim{port}.json")] + options
            processes.append(subprocess.Popen(
                args, env=dict(os.environ, WINEPREFIX=str(prefix)),
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    for station, devices in stations.items():
        for port, _, _ in devices:
            ready = prefixes[station] / f"ready{port}"
            deadline = time.monotonic() + 20
            while not ready.exists() and time.monotonic() < deadline:
                time.sleep(0.1)
            assert ready.exists(), f"{station} COM{port}: no simulator"
    return prefixes


def start_line(name, root, stations, prefixes, playbook, flash):
    inventory = {"stations": {"hosts": {
        station: {
            "ansible_connection": "local",
            "ansible_python_interpreter": "/usr/bin/python3",
            "dov_ports": [port for port, _, _ in devices],
            "dov_environment": {"WINEPREFIX": str(prefixes[station])},
        } for station, devices in stations.items()}}}
    # JSON is YAML: the inventory's YAML reader takes it as it is.
    (root / f"{name}.yml").write_text(json.dumps(inventory))
    ansible_dir = root / f"{name}-ansible"
    env = dict(os.environ, ANSIBLE_LOCAL_TEMP=str(ansible_dir / "local"),
               ANSIBLE_REMOTE_TEMP=str(ansible_dir / "remote"),
               ANSIBLE_ASYNC_DIR=str(ansible_dir / "async"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0")
    extra = {"dov_flash": flash, "dov_flash_options": ["--no-reset"],
             "dov_report": str(root / f"{name}-report.json")}
    log = open(root / f"{name}.log", "w")
    return subprocess.Popen(
        ["ansible-playbook", "-i", str(root / f"{name}.yml"), playbook,
         "-e", json.dumps(extra)],
        cwd=root, env=env, stdout=log, stderr=subprocess.STDOUT)


def check_line(name, root, stations, status):
    output = (root / f"{name}.log").read_text()
    failing = any(r != "ok" for d in stations.values() for _, _, r in d)
    assert (status != 0) == failing, f"{name}: status {status}\n{output}"
    report = json.loads((root / f"{name}-report.json").read_text())
    rows = {(row["station"], row["port"]): row for row in report}
    expected = {(station, f"COM{port}"): result
                for station, devices in stations.items()
                for port, _, result in devices}
    assert len(report) == len(expected), f"{name}: {report}"
    for key, result in expected.items():
        row = rows.get(key)
        assert row is not None, f"{name}: no row for {key} in {report}"
        assert set(row) == FIELDS, f"{name}: {row}"
        assert row["result"] == result, f"{name}: {row}"
        assert (row["error"] is None) == (result == "ok"), f"{name}: {row}"
        assert isinstance(row["duration_ms"], int), f"{name}: {row}"


def main():
    playbook, flash, devsim = sys.argv[1:4]
    if shutil.which("ansible-playbook") is None:
        sys.exit("ansible-playbook is missing: run scripts/install-deps")
    processes = []
    lines = {}
    with tempfile.TemporaryDirectory(prefix="dov-line-") as tmp:
        root = Path(tmp)
        try:
            for name, stations in LINES.items():
                prefixes = start_devices(root / name, stations, devsim,
                                         processes)
                lines[name] = start_line(name, root, stations, prefixes,
                                         playbook, flash)
            for name, line in lines.items():
                status = line.wait(timeout=BOUND_S)
                check_line(name, root, LINES[name], status)
            # The devices whose update ended well hold the whole image.
            for name, stations in LINES.items():
                for station, devices in stations.items():
                    for port, _, result in devices:
                        if result != "ok":
                            continue
                        report = root / name / station / f"devsim{port}.json"
                        deadline = time.monotonic() + 30
                        while not report.exists() and \
                                time.monotonic() < deadline:
                            time.sleep(0.2)
                        sim = json.loads(report.read_text())
                        assert sim["intact"], f"{station} COM{port}: {sim}"
        finally:
            for process in processes + list(lines.values()):
                if process.poll() is None:
                    process.kill()
                process.wait(timeout=10)
    print("production line playbook: reports and exit statuses as expected")


if __name__ == "__main__":
    main()
