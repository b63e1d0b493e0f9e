"""Recorders and windows in pid namespaces of their own, as Flatpak and
other sandboxes run them, with the real binary against real servers."""

import os
import unittest

import machine
import monitor
import sandboxes
import sound_servers
from programs import Program
from test_sound_server import wait_for_snapshot

TOOLS = os.environ.get("QUORBEL_TEST_TOOLS", os.path.join(os.path.dirname(monitor.BINARY), "tests", "tools"))


class SandboxSuite(sound_servers.OnServer):
    """Run against each sound server by the classes below."""

    def setUp(self):
        if not sandboxes.available():
            self.skipTest("the sandbox tools are not installed")
        self.started = []

    def tearDown(self):
        for started in reversed(self.started):
            started.end()

    def keep(self, started):
        self.started.append(started)
        return started

    def recorder_argv(self):
        return ["parecord", "--device=" + self.server.mic, os.devnull]

    def test_recorder_under_unshare_is_its_host_pid(self):
        recorder = self.keep(sandboxes.unshared(self.recorder_argv(), self.server.env, "parecord"))
        self.assertEqual(recorder.namespace_pids()[-1], 1, "pid 1 in its namespace, the host init's")
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "", "name": "parecord", "titles": []}])
        self.assertTrue(seen["micInUse"])

    def test_recorder_under_bubblewrap_is_its_host_pid_and_its_sandbox(self):
        for app_id, bundle in (("org.example.Recorder", "org.example.Recorder"),
                               ("org.mozilla.firefox", "org.mozilla.firefox"),
                               ("com.microsoft.Edge", "com.microsoft.edgemac"),
                               ("org.chromium.Chromium", "org.chromium.Chromium")):
            with self.subTest(app_id=app_id):
                recorder = sandboxes.bubblewrapped(self.recorder_argv(), self.server.env, "parecord", app_id,
                                                   binds=[self.server.dir])
                try:
                    self.assertEqual(recorder.namespace_pids()[-1], 2, "pid 2 in its namespace, a kernel thread's")
                    seen = wait_for_snapshot(self.server, lambda s: s["holders"])
                    self.assertEqual(seen["holders"],
                                     [{"pid": recorder.pid, "bundle": bundle, "name": "parecord", "titles": []}])
                finally:
                    recorder.end()
                    wait_for_snapshot(self.server, lambda s: not s["holders"])

    def test_host_and_sandboxed_recorders_side_by_side(self):
        host = self.keep(Program(self.recorder_argv(), self.server.env))
        unshared = self.keep(sandboxes.unshared(self.recorder_argv(), self.server.env, "parecord"))
        wrapped = self.keep(sandboxes.bubblewrapped(self.recorder_argv(), self.server.env, "parecord",
                                                    "org.example.Recorder", binds=[self.server.dir]))
        seen = wait_for_snapshot(self.server, lambda s: len(s["holders"]) == 3)
        self.assertEqual(sorted((h["pid"], h["bundle"]) for h in seen["holders"]),
                         sorted([(host.pid, ""), (unshared.pid, ""), (wrapped.pid, "org.example.Recorder")]))


class PulseAudioSandboxes(SandboxSuite, unittest.TestCase):
    server_class = sound_servers.PulseAudio


class PipeWireSandboxes(SandboxSuite, unittest.TestCase):
    server_class = sound_servers.PipeWire

    def test_native_recorder_under_bubblewrap_is_its_host_pid(self):
        argv = ["pw-record", "--target", self.server.mic, os.devnull]
        recorder = self.keep(sandboxes.bubblewrapped(argv, self.server.env, "pw-record", "org.example.Recorder",
                                                     binds=[self.server.dir]))
        self.assertEqual(recorder.namespace_pids()[-1], 2)
        seen = wait_for_snapshot(self.server, lambda s: s["holders"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "org.example.Recorder", "name": "pw-record",
                                            "titles": []}])


class SandboxedBrowserWindows(unittest.TestCase):
    """A browser whose recorder and windows both live in its sandbox."""

    @classmethod
    def setUpClass(cls):
        if not sandboxes.available():
            raise unittest.SkipTest("the sandbox tools are not installed")
        cls.machine = machine.SoundAndDisplay("quorbel-sandboxes-")

    @classmethod
    def tearDownClass(cls):
        cls.machine.stop()

    def setUp(self):
        self.started = []

    def tearDown(self):
        for started in reversed(self.started):
            started.end()

    def sandboxed(self, argv, command):
        binds = [self.machine.sound.dir, TOOLS, "/tmp/.X11-unix"]
        started = sandboxes.bubblewrapped(argv, self.machine.env, command, "org.mozilla.firefox", binds=binds,
                                          wait_ready=True)
        self.started.append(started)
        return started

    def test_windows_with_sandbox_pids_give_their_titles(self):
        recorder = self.sandboxed([os.path.join(TOOLS, "capture_client"), "mic"], "capture_client")
        windows = self.sandboxed([os.path.join(TOOLS, "x_windows"), "self:net:Call — Mozilla Firefox",
                                  "self:net:Notes"], "x_windows")
        self.assertEqual(windows.namespace_pids()[-1], 2)
        seen = wait_for_snapshot(self.machine, lambda s: s["holders"] and s["holders"][0]["titles"])
        self.assertTrue(seen["ax"])
        self.assertEqual(seen["holders"], [{"pid": recorder.pid, "bundle": "org.mozilla.firefox",
                                            "name": "capture_client",
                                            "titles": ["Call — Mozilla Firefox", "Notes"]}])

    def test_a_window_naming_another_process_keeps_that_pid(self):
        # A host client may set any pid: only a sandboxed client's own pid is
        # turned into its host pid.
        recorder = self.sandboxed([os.path.join(TOOLS, "capture_client"), "mic"], "capture_client")
        firefox = self.machine.program("firefox", os.path.join(TOOLS, "capture_client"))
        host = Program([firefox, "mic"], self.machine.env, wait_ready=True)
        self.started.append(host)
        windows = Program([os.path.join(TOOLS, "x_windows"), "%d:net:Host page" % host.pid, "2:net:Not a page"],
                          self.machine.env, wait_ready=True)
        self.started.append(windows)
        seen = wait_for_snapshot(self.machine, lambda s: len(s["holders"]) == 2)
        self.assertEqual(sorted((h["pid"], h["titles"]) for h in seen["holders"]),
                         sorted([(recorder.pid, ["Host page"]), (host.pid, ["Host page"])]))


if __name__ == "__main__":
    unittest.main()
