#!/usr/bin/env python3
"""Runs the comm contract program of the Windows build under Wine, against a
pseudo-terminal mapped as a COM port in the project's Wine prefix.

The far end is held open and never read or written, so large writes stay
pending as on a line that takes nothing. The program runs with the project's
pseudo-terminal preload library (from the Linux build), which lends the
pseudo-terminal the modem-line calls of a real device. Exit codes: the
program's own, or 77 when Wine or the Linux build's library is missing.
"""

import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from run_wine_tests import SKIP, Far, free_port, linux_preload  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--exe", required=True)
    args, extra = parser.parse_known_args()
    if shutil.which("wine") is None:
        print("SKIP: wine is not installed")
        return SKIP
    repo = os.path.abspath(args.repo)
    preload = linux_preload(repo)
    if preload is None:
        print("SKIP: no pseudo-terminal preload library: build the linux "
              "preset first, or set DOV_LINUX_BUILD")
        return SKIP
    prefix = subprocess.run([os.path.join(repo, "scripts", "wine-prefix")],
                            capture_output=True, text=True,
                            check=True).stdout.strip()
    devices = os.path.join(prefix, "dosdevices")
    port = free_port(devices)
    link = os.path.join(devices, f"com{port}")
    far = Far()
    os.symlink(far.slave_path, link)
    env = dict(os.environ)
    env.update({"WINEPREFIX": prefix, "DOV_WINEPREFIX": prefix,
                "LD_PRELOAD": preload, "DOV_CONTRACT_PORT": str(port)})
    try:
        return subprocess.run(
            [os.path.join(repo, "scripts", "wine-run"), args.exe] + extra,
            env=env, timeout=240).returncode
    except subprocess.TimeoutExpired:
        print("FAIL: the contract program did not end within 240 s")
        return 1
    finally:
        os.unlink(link)


if __name__ == "__main__":
    sys.exit(main())
