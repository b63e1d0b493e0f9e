"""The real binary under fault: its reader going away or stalling, and
arguments of any bytes in any number."""

import fcntl
import json
import os
import random
import select
import signal
import subprocess
import time
import unittest

import monitor
import machine
from programs import Program

TOOLS = os.environ.get("QUORBEL_TEST_TOOLS", os.path.join(os.path.dirname(monitor.BINARY), "tests", "tools"))
F_SETPIPE_SZ = 1031


class WithBrowserInACall(unittest.TestCase):
    """A browser holder with long window titles under a real sound server and X server."""

    @classmethod
    def setUpClass(cls):
        cls.machine = machine.SoundAndDisplay("quorbel-faults-")
        cls.env = cls.machine.env
        firefox = cls.machine.program("firefox", os.path.join(TOOLS, "capture_client"))
        cls.recorder = Program([firefox, "mic"], cls.env, wait_ready=True)
        titles = ["%02d " % i + "long title " * 90 for i in range(14)]
        cls.windows = Program([os.path.join(TOOLS, "x_windows"), *["%d:net:%s" % (cls.recorder.pid, t) for t in titles]],
                              cls.env, wait_ready=True)

    @classmethod
    def tearDownClass(cls):
        cls.windows.end()
        cls.recorder.end()
        cls.machine.stop()

    def start_on_pipe(self, pipe_size=None):
        read, write = os.pipe()
        if pipe_size:
            fcntl.fcntl(write, F_SETPIPE_SZ, pipe_size)
        proc = subprocess.Popen([monitor.BINARY], env=self.env, stdout=write, stderr=subprocess.PIPE)
        os.close(write)
        return proc, read

    def test_reader_closing_the_pipe_ends_the_process_through_sigpipe(self):
        proc, read = self.start_on_pipe()
        with os.fdopen(read, "rb") as stream:
            self.assertTrue(monitor.parse_line(stream.readline())["holders"][0]["titles"])
        rc = proc.wait(timeout=6)
        self.assertEqual(rc, -signal.SIGPIPE)
        self.assertEqual(proc.stderr.read(), b"")
        proc.stderr.close()

    def test_stalled_reader_only_delays_the_lines(self):
        proc, read = self.start_on_pipe(pipe_size=4096)
        try:
            stream = os.fdopen(read, "rb")
            first = stream.readline()
            self.assertGreater(len(first), 4096, "a line longer than the pipe holds")
            time.sleep(7.0)  # three cycles' worth of not reading: the monitor waits in its write
            self.assertIsNone(proc.poll())
            lines = []
            deadline = time.monotonic() + 8
            while len(lines) < 3 and time.monotonic() < deadline:
                if select.select([stream], [], [], 1.0)[0]:
                    lines.append(stream.readline())
            self.assertEqual(len(lines), 3)
            for line in [first] + lines:
                self.assertTrue(line.endswith(b"\n"))
                seen = monitor.parse_line(line)
                self.assertEqual(len(seen["holders"][0]["titles"]), 12)
        finally:
            proc.kill()
            proc.wait()
            self.assertEqual(proc.stderr.read(), b"")
            proc.stderr.close()
            stream.close()


class Arguments(unittest.TestCase):
    QUIET_LINE = b'{"micInUse":false,"holders":[],"ax":false}\n'

    def test_arguments_of_any_bytes_never_change_the_output(self):
        rng = random.Random(20261210)
        for round_ in range(20):
            args = [bytes(rng.randrange(1, 256) for _ in range(rng.randrange(0, 40))) for _ in range(rng.randrange(0, 30))]
            args.insert(rng.randrange(0, len(args) + 1), b"--once")
            with self.subTest(round=round_):
                rc, out, err = monitor.run_once(args)
                self.assertEqual((rc, out, err), (0, self.QUIET_LINE, b""))

    def test_many_arguments(self):
        args = ["x%d" % i for i in range(20000)] + ["--once"]
        self.assertEqual(monitor.run_once(args), (0, self.QUIET_LINE, b""))

    def test_any_bytes_without_once_keep_it_running(self):
        rng = random.Random(7)
        args = [bytes(rng.randrange(1, 256) for _ in range(16)) for _ in range(50)]
        with monitor.Running(self, args) as running:
            self.assertEqual(running.next_line(), json.loads(self.QUIET_LINE))
            time.sleep(2.5)
            self.assertIsNone(running.proc.poll())
            self.assertEqual(running.next_line(), json.loads(self.QUIET_LINE))

if __name__ == "__main__":
    unittest.main()
