"""The README's readers, run as they stand against the real binary, a real
PulseAudio and a real recorder."""

import os
import select
import shutil
import signal
import subprocess
import sys
import unittest

import monitor
from programs import Program, children, command_name, wait_until
import sound_servers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "doc"))
import documents  # noqa: E402


def readers():
    """Each README reader as the command that runs it."""
    node = shutil.which("node")
    assert node, "node is missing: scripts/packages/test.txt lists nodejs"
    return [("python", [sys.executable, "-c", documents.readme_code("python")]),
            ("node", [node, "-e", documents.readme_code("js")])]


def gone(pid):
    """Ended: no such process, or one that only waits to be reaped."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


class Reader:
    """A reader in a session of its own, so that what it started ends with it
    however the test goes. It finds the monitor on PATH, as an installed one."""

    def __init__(self, argv, env):
        self.proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     start_new_session=True)

    def monitor_pid(self):
        """The pid of the monitor the reader started."""
        found = []
        def started():
            found[:] = [pid for pid in children(self.proc.pid) if command_name(pid) == "quorbel" and not gone(pid)]
            return found
        assert wait_until(started, 10) and len(found) == 1, "the reader started %d monitors" % len(found)
        return found[0]

    def said(self, timeout=8.0):
        """The next line the reader printed, or None when it printed none in time."""
        if not select.select([self.proc.stdout], [], [], timeout)[0]:
            return None
        return self.proc.stdout.readline().decode()

    def end(self):
        # The whole session, the monitor too, even when the reader is gone.
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


class Readers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not sound_servers.PulseAudio.available():
            raise unittest.SkipTest("PulseAudio is not installed")
        cls.server = sound_servers.PulseAudio()
        try:
            cls.server.start()
        except BaseException:
            cls.server.stop()
            raise
        cls.env = dict(cls.server.env)
        cls.env["PATH"] = os.path.dirname(os.path.abspath(monitor.BINARY)) + os.pathsep + os.environ["PATH"]
        cls.env.pop("PYTHONUNBUFFERED", None)  # the reader flushes by itself, or it is wrong

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()

    def start(self, argv):
        reader = Reader(argv, self.env)
        self.addCleanup(reader.end)
        return reader

    def test_reader_tells_when_a_call_starts_and_ends(self):
        for language, argv in readers():
            with self.subTest(language):
                reader = self.start(argv)
                quorbel = reader.monitor_pid()
                recorder = Program(["parecord", "--device=" + self.server.mic, os.devnull], self.server.env)
                try:
                    # The microphone may be seen running a moment before its
                    # recorder is listed; a line from that moment names nobody.
                    self.assertIn(reader.said(), ("call started: parecord\n", "call started: \n"))
                finally:
                    recorder.end()
                self.assertEqual(reader.said(), "call ended\n")
                # The monitor ended from outside: the reader ends with it, and says no more.
                os.kill(quorbel, signal.SIGTERM)
                self.assertEqual(reader.proc.wait(timeout=10), 0)
                self.assertEqual(reader.proc.stdout.read(), b"")
                self.assertEqual(reader.proc.stderr.read(), b"")

    def test_monitor_ends_when_its_reader_is_gone(self):
        for language, argv in readers():
            with self.subTest(language):
                reader = self.start(argv)
                quorbel = reader.monitor_pid()
                reader.proc.kill()
                reader.proc.wait()
                # At its next line at the latest, through SIGPIPE.
                self.assertTrue(wait_until(lambda: gone(quorbel), 5.0), "the monitor outlived its reader")


if __name__ == "__main__":
    unittest.main()
