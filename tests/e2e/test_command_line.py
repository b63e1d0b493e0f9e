"""The binary's command line, its stream and its exit."""

import os
import select
import signal
import time
import unittest

import monitor

QUIET_LINE = b'{"micInUse":false,"holders":[],"ax":false}\n'


def read_line(stream, deadline):
    """Reads one line or returns None when the deadline passes first."""
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([stream], [], [], left)[0]:
            return None
        chunk = os.read(stream.fileno(), 1)
        if not chunk:
            return line or None
        line += chunk
    return line


class OneShot(unittest.TestCase):
    def test_once_writes_one_quiet_line_and_exits_zero(self):
        rc, out, err = monitor.run_once()
        self.assertEqual(rc, 0)
        self.assertEqual(out, QUIET_LINE)
        self.assertEqual(err, b"")
        self.assertEqual(monitor.parse_line(out), {"micInUse": False, "holders": [], "ax": False})

    def test_once_in_any_position_and_repeated(self):
        for args in (["--once", "--once"], ["-x", "--once", "tail"], ["--ONCE", "--once"], ["", "--once", "\xff"]):
            with self.subTest(args=args):
                rc, out, err = monitor.run_once(args)
                self.assertEqual((rc, out, err), (0, QUIET_LINE, b""))

    def test_program_path_that_is_once(self):
        rc, out, err = monitor.run_once(args=(), argv0="--once")
        self.assertEqual((rc, out, err), (0, QUIET_LINE, b""))


class Continuous(unittest.TestCase):
    def test_near_misses_keep_writing_two_seconds_apart(self):
        near_misses = ["--ONCE", "--once=1", "--once ", "-once", "once"]
        started = time.monotonic()
        procs = {arg: monitor.start([arg]) for arg in near_misses}
        try:
            for arg, proc in procs.items():
                with self.subTest(arg=arg):
                    first = read_line(proc.stdout, started + 1.5)
                    self.assertEqual(first, QUIET_LINE)
            first_at = time.monotonic() - started
            self.assertLess(first_at, 1.5, "the first line comes at once")
            for arg, proc in procs.items():
                with self.subTest(arg=arg):
                    second = read_line(proc.stdout, started + 4.0)
                    self.assertEqual(second, QUIET_LINE)
                    self.assertIsNone(proc.poll(), "still running without --once")
        finally:
            for proc in procs.values():
                proc.kill()
                proc.wait()
                proc.stdout.close()
                proc.stderr.close()

    def test_lines_are_two_seconds_plus_the_cycle_apart(self):
        proc = monitor.start()
        try:
            stamps = []
            deadline = time.monotonic() + 9.0
            for _ in range(4):
                line = read_line(proc.stdout, deadline)
                self.assertEqual(line, QUIET_LINE)
                stamps.append(time.monotonic())
            gaps = [b - a for a, b in zip(stamps, stamps[1:])]
            for gap in gaps:
                self.assertGreaterEqual(gap, 1.95)
                self.assertLess(gap, 2.6)
        finally:
            proc.kill()
            proc.wait()
            proc.stdout.close()
            proc.stderr.close()

    def test_reader_closing_the_pipe_ends_the_process_silently(self):
        proc = monitor.start()
        self.assertEqual(read_line(proc.stdout, time.monotonic() + 2.0), QUIET_LINE)
        proc.stdout.close()
        rc = proc.wait(timeout=6.0)
        self.assertEqual(rc, -signal.SIGPIPE)
        self.assertEqual(proc.stderr.read(), b"")
        proc.stderr.close()


if __name__ == "__main__":
    unittest.main()
