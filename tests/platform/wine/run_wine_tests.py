#!/usr/bin/env python3
"""The Win32 serial pass-through under Wine, against a pseudo-terminal.

Maps a pseudo-terminal as COMn in the project's Wine prefix, runs the
cross-compiled probe (dov_wine_comm_probe.exe) once per check, and plays and
checks the far end from here. The probe runs with the project's
pseudo-terminal preload library (tests/support/ptymodem, built by the Linux
build) so that Wine can read the pseudo-terminal's modem lines and wait for
its events.

Exit codes: 0 all ran checks passed, 1 a check failed, 77 nothing could run
(no Windows build).
"""

import argparse
import os
import select
import shutil
import subprocess
import sys
import time

SKIP = 77


class Far:
    """The master side of the pseudo-terminal."""

    def __init__(self):
        self.fd, self.slave = os.openpty()
        # The slave stays open here too (never read): without any slave open
        # the master reads EIO between two runs of the probe.
        self.slave_path = os.ttyname(self.slave)
        os.set_blocking(self.fd, False)

    def send(self, data):
        os.write(self.fd, data)

    def receive(self, count, seconds=10.0):
        out = b""
        end = time.monotonic() + seconds
        while len(out) < count:
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            try:
                out += os.read(self.fd, count - len(out))
            except (BlockingIOError, OSError):
                break
        return out

    def drain(self):
        total = 0
        while select.select([self.fd], [], [], 0)[0]:
            try:
                chunk = os.read(self.fd, 65536)
            except (BlockingIOError, OSError):
                break
            if not chunk:
                break
            total += len(chunk)
        return total


class Probe:
    """One run of the probe under Wine, read line by line with a bound."""

    def __init__(self, runner, command):
        self.runner = runner
        self.proc = subprocess.Popen(
            runner.argv(command), stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            env=runner.env)
        self.buffer = b""

    def line(self, seconds=60.0):
        end = time.monotonic() + seconds
        out = self.proc.stdout.fileno()
        while b"\n" not in self.buffer:
            left = end - time.monotonic()
            if left <= 0 or not select.select([out], [], [], left)[0]:
                return None
            chunk = os.read(out, 4096)
            if not chunk:
                return None
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\n", 1)
        return text.decode(errors="replace").strip()

    def send_line(self, text):
        self.proc.stdin.write(text.encode() + b"\n")
        self.proc.stdin.flush()

    def finish(self, seconds=60.0):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None


class Runner:
    def __init__(self, repo, exe, preload, prefix, port):
        self.repo, self.exe, self.port = repo, exe, port
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": prefix, "DOV_WINEPREFIX": prefix,
                         "LD_PRELOAD": preload, "WINEDEBUG": "-all"})
        self.results = {"passed": 0, "failed": 0, "skipped": 0}

    def argv(self, command):
        return [os.path.join(self.repo, "scripts", "wine-run"), self.exe,
                command, str(self.port)]

    def report(self, name, outcome, why=""):
        key = {"PASS": "passed", "FAIL": "failed", "SKIP": "skipped"}[outcome]
        self.results[key] += 1
        print(f"{outcome} {name}" + (f": {why}" if why else ""), flush=True)


def expect(runner, name, condition, why):
    runner.report(name, "PASS" if condition else "FAIL", "" if condition else why)


def check_open(runner, far):
    probe = Probe(runner, "open")
    said = probe.line()
    probe.finish()
    expect(runner, "open", said == "opened", f"probe said {said!r}")


def check_exclusive(runner, far):
    probe = Probe(runner, "exclusive")
    said = probe.line()
    probe.finish()
    if said == "allowed":
        runner.report("exclusive open", "SKIP",
                      "Wine does not refuse a second open of a serial device")
    else:
        expect(runner, "exclusive open", said == "refused 5",
               f"probe said {said!r}")


def check_settings(runner, far):
    probe = Probe(runner, "settings")
    said = probe.line()
    stty = ""
    if said == "applied":
        stty = " " + subprocess.run(["stty", "-a", "-F", far.slave_path],
                                    capture_output=True, text=True).stdout
        probe.send_line("done")
    probe.finish()
    wanted = ["speed 19200 baud", " cstopb", " crtscts", " ixon", " ixoff",
              "start = ^A;", "stop = ^B;", "-icanon", "-echo "]
    missing = [token for token in wanted if token not in stty]
    expect(runner, "settings", said == "applied" and not missing,
           f"probe said {said!r}, line lacks {missing} in {stty!r}")


def pattern():
    return bytes(range(256)) * 2


def check_write(runner, far):
    probe = Probe(runner, "write")
    got = far.receive(len(pattern()), 60.0)
    said = probe.line()
    probe.finish()
    expect(runner, "write", got == pattern() and said == f"wrote {len(pattern())}",
           f"far end got {len(got)} bytes (equal: {got == pattern()}), "
           f"probe said {said!r}")


def check_read(runner, far):
    probe = Probe(runner, "read")
    said = probe.line()
    if said == "ready":
        far.send(pattern())
        said = probe.line()
    probe.finish()
    expect(runner, "read", said == "read " + pattern().hex(),
           f"probe said {said!r}")


def check_purge(runner, far):
    probe = Probe(runner, "purge")
    said = probe.line()
    if said == "ready":
        far.send(b"stale")
    queued, cleared, abort = probe.line(), probe.line(), probe.line()
    # Take what the probe still writes so that it can finish.
    end = time.monotonic() + 60
    while probe.proc.poll() is None and time.monotonic() < end:
        far.receive(1 << 20, 0.2)
    probe.finish()
    expect(runner, "purge clears input",
           queued == "queued 5" and cleared == "after-clear 0",
           f"probe said {said!r}, {queued!r}, {cleared!r}")
    if abort == "abort-ignored":
        runner.report("purge aborts a pending write", "SKIP",
                      "Wine does not end a pending write on PurgeComm")
    else:
        expect(runner, "purge aborts a pending write", abort == "aborted 995",
               f"probe said {abort!r}")


def check_events(runner, far):
    probe = Probe(runner, "events")
    modem = probe.line()
    said = probe.line()
    if said == "ready":
        far.send(b"e")
        said = probe.line()
    probe.finish()
    if modem and modem.startswith("modem-refused"):
        runner.report("modem status", "SKIP",
                      f"Wine refuses GetCommModemStatus here ({modem})")
    else:
        expect(runner, "modem status", modem == "modem 0",
               f"probe said {modem!r}")
    if said and said.startswith("event-refused"):
        runner.report("receive event", "SKIP",
                      f"Wine refuses WaitCommEvent here ({said})")
    else:
        expect(runner, "receive event", said == "event 1",
               f"probe said {said!r}")


def linux_preload(repo):
    """The preload library of the Linux build beside the Windows one
    (build/linux, or DOV_LINUX_BUILD), or None when it is not built."""
    linux = os.environ.get("DOV_LINUX_BUILD",
                           os.path.join(repo, "build", "linux"))
    library = os.path.join(linux, "lib", "libdov_ptymodem.so")
    return library if os.path.exists(library) else None


def free_port(devices):
    for port in range(250, 100, -1):
        if not os.path.lexists(os.path.join(devices, f"com{port}")):
            return port
    sys.exit("FAIL: no free COM number in the Wine prefix")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repo", required=True)
    parser.add_argument("--preload", required=True,
                        help="the pseudo-terminal preload library")
    parser.add_argument("--windows-build",
                        default=os.environ.get("DOV_WINDOWS_BUILD"))
    args = parser.parse_args()
    repo = os.path.abspath(args.repo)
    build = args.windows_build or os.path.join(repo, "build", "windows")
    exe = os.path.join(build, "tests", "platform", "dov_wine_comm_probe.exe")
    if not os.path.exists(exe):
        print(f"SKIP: no Windows build of the probe at {exe}; build the "
              "windows preset first (cmake --preset windows && cmake --build "
              "build/windows --target dov_wine_comm_probe)")
        return SKIP
    if shutil.which("wine") is None:
        print("SKIP: wine is not installed")
        return SKIP

    prefix = subprocess.run([os.path.join(repo, "scripts", "wine-prefix")],
                            capture_output=True, text=True,
                            check=True).stdout.strip()
    devices = os.path.join(prefix, "dosdevices")
    preload = os.path.abspath(args.preload)
    if not os.path.exists(preload):
        print(f"FAIL: no preload library at {preload}")
        return 1
    checks = [check_open, check_exclusive, check_settings, check_write,
              check_read, check_purge, check_events]
    port = free_port(devices)
    link = os.path.join(devices, f"com{port}")
    far = Far()
    os.symlink(far.slave_path, link)
    try:
        runner = Runner(repo, exe, preload, prefix, port)
        for check in checks:
            far.drain()
            check(runner, far)
    finally:
        os.unlink(link)
    r = runner.results
    print(f"{r['passed']} passed, {r['failed']} failed, {r['skipped']} skipped")
    return 1 if r["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
