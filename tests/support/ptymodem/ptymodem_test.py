#!/usr/bin/env python3
"""The pseudo-terminal preload library, in child processes that load it.

    ptymodem_test.py LIBRARY
"""

import os
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

LIBRARY = None

# Runs in a child with the library preloaded; prints what it saw.
CHILD = textwrap.dedent("""
    import errno, fcntl, os, struct, sys, termios
    master, slave = os.openpty()
    def modem(fd, request, value=0):
        try:
            got = fcntl.ioctl(fd, request, struct.pack("i", value))
            return struct.unpack("i", got)[0]
        except OSError as e:
            return "refused " + errno.errorcode[e.errno]
    TIOCGICOUNT = 0x545D
    counters = fcntl.ioctl(slave, TIOCGICOUNT, b"\\xff" * 80)
    print("lines", modem(slave, termios.TIOCMGET, 0x1FF))
    print("set", modem(slave, termios.TIOCMBIS, termios.TIOCM_DTR))
    print("counters", sum(counters))
    r, w = os.pipe()
    print("pipe", modem(r, termios.TIOCMGET))
    print("slave-path", os.ttyname(slave))
    os.write(slave, b"x" * 32)
    os.write(master, b"y" * 5)
    os.write(w, b"z" * 7)
    os.write(slave, b"BootUp@")
""")


def run_child(log=None):
    env = dict(os.environ, LD_PRELOAD=LIBRARY)
    env.pop("DOV_WRITE_LOG", None)
    if log:
        env["DOV_WRITE_LOG"] = log
    before = time.monotonic_ns()
    done = subprocess.run([sys.executable, "-c", CHILD], env=env,
                          capture_output=True, text=True, timeout=60)
    after = time.monotonic_ns()
    said = dict(line.split(" ", 1) for line in done.stdout.splitlines())
    return done, said, before, after


class ModemLines(unittest.TestCase):
    def test_a_pseudo_terminal_answers_as_a_device_with_all_lines_off(self):
        done, said, _, _ = run_child()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(said["lines"], "0")
        self.assertFalse(said["set"].startswith("refused"), said["set"])
        self.assertEqual(said["counters"], "0")

    def test_other_descriptors_keep_the_real_answer(self):
        _, said, _, _ = run_child()
        self.assertTrue(said["pipe"].startswith("refused"), said["pipe"])


class WriteRecord(unittest.TestCase):
    def test_every_write_to_a_slave_is_recorded_with_its_times(self):
        with tempfile.TemporaryDirectory() as folder:
            log = os.path.join(folder, "writes")
            done, said, before, after = run_child(log)
            self.assertEqual(done.returncode, 0, done.stderr)
            with open(log) as file:
                lines = [line.split() for line in file]
        # The master and the pipe are not slaves: only the two slave writes.
        self.assertEqual([(l[0], l[3]) for l in lines],
                         [(said["slave-path"], "32"),
                          (said["slave-path"], "7")])
        times = [int(t) for l in lines for t in l[1:3]]
        self.assertEqual(times, sorted(times))
        self.assertTrue(before <= times[0] and times[-1] <= after,
                        f"{before} {times} {after}")


if __name__ == "__main__":
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
