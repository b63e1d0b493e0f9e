"""Streams the sound server opens itself (an echo canceller, a loopback) with
the real binary against real servers: no holders of their own, and the
microphone in use only while an application records through them."""

import os
import time
import unittest

import monitor
from programs import Program
import sound_servers
from test_sound_server import snapshot, wait_for_snapshot

QUIET = {"micInUse": False, "holders": [], "ax": False}


class FilterChainSuite(sound_servers.OnServer):
    """Run against each sound server by the classes below."""

    def setUp(self):
        self.clients = []
        self.modules = []

    def tearDown(self):
        for client in self.clients:
            client.end()
        for module in reversed(self.modules):
            self.server.pactl("unload-module", module)

    def load(self, *args):
        loaded = self.server.pactl("load-module", *args)
        self.assertEqual(loaded.returncode, 0, loaded.stderr)
        self.modules.append(loaded.stdout.strip())

    def wait_for_source(self, name):
        deadline = time.monotonic() + 10
        while name not in self.server.source_names() and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertIn(name, self.server.source_names())

    def record(self, source):
        recorder = Program(["parecord", "--device=" + source, os.devnull], self.server.env)
        self.clients.append(recorder)
        return recorder

    def echo_canceller(self):
        self.load("module-echo-cancel", "source_master=" + self.server.mic, "sink_master=speaker", "aec_method=null",
                  "source_name=cancelled", "sink_name=cancelled_out")
        self.wait_for_source("cancelled")

    def assertIdleThroughout(self, seconds=2.5):
        """Quiet lines from a running monitor over a while, so that a filter
        that starts late cannot slip past."""
        with monitor.Running(self, env=self.server.env) as running:
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                self.assertEqual(running.next_line(), QUIET)

    def test_echo_canceller_alone_is_idle(self):
        self.echo_canceller()
        self.assertIdleThroughout()

    def test_recorder_of_the_cancelled_source_is_the_one_holder(self):
        self.echo_canceller()
        recorder = self.record("cancelled")
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen, {"micInUse": True, "ax": False,
                                "holders": [{"pid": recorder.pid, "bundle": "", "name": "parecord", "titles": []}]})
        recorder.end()
        self.assertEqual(wait_for_snapshot(self.server, lambda s: not s["micInUse"]), QUIET)

    def test_echo_canceller_does_not_make_the_speaker_a_microphone(self):
        # It plays what applications play into it, not the microphone.
        self.echo_canceller()
        self.record("speaker.monitor")
        time.sleep(1.0)
        self.assertEqual(snapshot(self.server), QUIET)

    def test_loopback_into_the_speaker_carries_the_microphone_to_its_monitor(self):
        self.load("module-loopback", "source=" + self.server.mic, "sink=speaker")
        self.assertIdleThroughout()
        recorder = self.record("speaker.monitor")
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen, {"micInUse": True, "ax": False,
                                "holders": [{"pid": recorder.pid, "bundle": "", "name": "parecord", "titles": []}]})


class PulseAudioFilterChains(FilterChainSuite, unittest.TestCase):
    server_class = sound_servers.PulseAudio


class PipeWireFilterChains(FilterChainSuite, unittest.TestCase):
    server_class = sound_servers.PipeWire


if __name__ == "__main__":
    unittest.main()
