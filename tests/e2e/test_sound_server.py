"""The real binary against real sound servers, with real capture clients."""

import os
import signal
import subprocess
import time
import unittest

import monitor
import programs
from programs import Program
import sound_servers

TOOLS = os.environ.get("QUORBEL_TEST_TOOLS", os.path.join(os.path.dirname(monitor.BINARY), "tests", "tools"))
CAPTURE_CLIENT = os.path.join(TOOLS, "capture_client")
LISTING_PROBE = os.path.join(TOOLS, "listing_probe")


def snapshot(server):
    rc, out, err = monitor.run_once(env=server.env)
    assert rc == 0 and err == b"", (rc, err)
    assert out.endswith(b"\n") and out.count(b"\n") == 1, out
    return monitor.parse_line(out)


def wait_for_snapshot(server, predicate, timeout=8.0):
    """The first snapshot for which predicate holds, or the last one seen."""
    deadline = time.monotonic() + timeout
    while True:
        seen = snapshot(server)
        if predicate(seen) or time.monotonic() > deadline:
            return seen
        time.sleep(0.2)


class SoundServerSuite(sound_servers.OnServer):
    """The tests, run against each server by the classes below."""

    def setUp(self):
        self.clients = []

    def tearDown(self):
        for client in self.clients:
            client.end()

    def client(self, argv, wait_ready=False):
        started = Program(argv, self.server.env, wait_ready)
        self.clients.append(started)
        return started

    def assertQuiet(self, seen):
        self.assertEqual(seen, {"micInUse": False, "holders": [], "ax": False})

    def test_quiet_server(self):
        self.assertQuiet(snapshot(self.server))

    def test_recorder_of_the_microphone_is_a_holder(self):
        recorder = self.client(["parecord", "--device=" + self.server.mic, os.devnull])
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertTrue(seen["micInUse"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "", "name": "parecord", "titles": []}])
        recorder.end()
        self.assertQuiet(wait_for_snapshot(self.server, lambda s: not s["micInUse"]))

    def test_recording_the_speaker_monitor_is_not_the_microphone(self):
        self.client(["parecord", "--device=" + self.server.speaker_monitor, os.devnull])
        time.sleep(1.0)
        self.assertQuiet(snapshot(self.server))

    def test_corked_stream_and_level_meter_are_not_holders(self):
        for flags in (["--corked"], ["--peak", "--rate", "25"]):
            with self.subTest(flags=flags):
                client = self.client([CAPTURE_CLIENT, self.server.mic, *flags], wait_ready=True)
                time.sleep(0.5)
                self.assertQuiet(snapshot(self.server))
                client.end()

    def test_two_recorders_are_two_holders(self):
        first = self.client(["parecord", "--device=" + self.server.mic, os.devnull])
        second = self.client([CAPTURE_CLIENT, self.server.mic], wait_ready=True)
        seen = wait_for_snapshot(self.server, lambda s: len(s["holders"]) == 2)
        self.assertEqual(sorted(h["pid"] for h in seen["holders"]), sorted([first.pid, second.pid]))
        names = {h["pid"]: h["name"] for h in seen["holders"]}
        self.assertEqual(names[second.pid], "capture_client")

    def test_a_claimed_process_without_a_connection_is_never_the_holder(self):
        idle = self.client(["sleep", "1000"])
        with open("/proc/1/comm") as comm:
            init = comm.read().strip()
        for pid, binary in ((idle.pid, "sleep"), (1, init)):
            with self.subTest(claimed=binary):
                claim = "application.process.id=%d application.process.binary=%s application.name=Firefox" % (pid, binary)
                recorder = Program(["parecord", "--device=" + self.server.mic, os.devnull],
                                   dict(self.server.env, PULSE_PROP=claim))
                try:
                    seen = wait_for_snapshot(self.server, lambda s: s["holders"])
                    self.assertEqual(seen["holders"], [{"pid": -1, "bundle": "", "name": "", "titles": []}])
                finally:
                    recorder.end()
                    wait_for_snapshot(self.server, lambda s: not s["holders"])

    def test_server_killed_and_restarted_while_the_monitor_runs(self):
        with monitor.Running(self, env=self.server.env) as running:
            self.assertQuiet(running.next_line())
            self.server.stop_server()
            for _ in range(2):
                self.assertQuiet(running.next_line())
            self.server.restart_server()
            recorder = self.client(["parecord", "--device=" + self.server.mic, os.devnull])
            for _ in range(6):
                seen = running.next_line()
                if seen["holders"]:
                    break
            self.assertEqual([h["pid"] for h in seen["holders"]], [recorder.pid])
            self.assertTrue(all(1.9 < gap < 3.2 for gap in running.gaps()), running.gaps())

    def test_hung_server_does_not_stop_the_stream(self):
        with monitor.Running(self, env=self.server.env) as running:
            self.assertQuiet(running.next_line())
            recorder = self.client(["parecord", "--device=" + self.server.mic, os.devnull])
            time.sleep(1.0)
            self.server.signal_server(signal.SIGSTOP)
            try:
                for _ in range(3):
                    self.assertQuiet(running.next_line(3.5))  # no answer in time: nothing is known
            finally:
                self.server.signal_server(signal.SIGCONT)
            for _ in range(4):
                seen = running.next_line(3.5)
                if seen["holders"]:
                    break
            self.assertEqual([h["pid"] for h in seen["holders"]], [recorder.pid])

    def test_a_cycle_answered_from_two_listings_is_looked_at_again(self):
        # A notice that comes between two questions of one cycle makes the
        # second fetch anew, and takes the notice's mark with it: the wait
        # must still return at once, as the cycle's first answers rest on
        # the older listing.
        probe = subprocess.Popen([LISTING_PROBE], env=self.server.env, stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True)
        self.addCleanup(probe.communicate)
        self.addCleanup(probe.kill)

        def ask(command):
            probe.stdin.write(command + "\n")
            probe.stdin.flush()
            return probe.stdout.readline().strip()

        first = ask("list")
        self.assertNotEqual(first, "none")
        ask("notices")
        self.assertEqual((ask("list"), ask("notices")), (first, "0"))  # nothing changed: nothing to wake for
        self.assertEqual(ask("list"), first)
        # The recording is made, and its notices are all sent, before the
        # probe's next question takes them in.
        self.client(["parecord", "--device=" + self.server.mic, os.devnull])
        self.assertTrue(programs.wait_until(lambda: self.server.pactl("list", "source-outputs", "short").stdout, 10))
        time.sleep(0.5)
        self.assertNotEqual(ask("list"), first)
        self.assertEqual(ask("notices"), "1")
        self.assertEqual(ask("notices"), "0")  # once looked at again, quiet


class PulseAudioTest(SoundServerSuite, unittest.TestCase):
    server_class = sound_servers.PulseAudio


class PipeWireTest(SoundServerSuite, unittest.TestCase):
    server_class = sound_servers.PipeWire

    def test_native_pipewire_recorder_is_a_holder(self):
        recorder = self.client(["pw-record", "--target", self.server.mic, os.devnull])
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "", "name": "pw-record", "titles": []}])


    def test_native_recorder_claiming_a_connected_process_is_its_own_pid(self):
        # The process it names records too (the speaker's monitor, so it is no holder).
        named = self.client(["parecord", "--device=" + self.server.speaker_monitor, os.devnull])
        claim = "application.process.id=%d application.process.binary=parecord application.name=parecord" % named.pid
        recorder = Program(["pw-record", "--target", self.server.mic, os.devnull],
                           dict(self.server.env, PIPEWIRE_PROPS=claim))
        self.clients.append(recorder)
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "", "name": "pw-record", "titles": []}])

if __name__ == "__main__":
    unittest.main()
