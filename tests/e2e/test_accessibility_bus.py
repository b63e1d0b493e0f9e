"""Window titles from the accessibility bus: the real binary under a headless
Wayland compositor (weston, with XWayland), a private session bus with the
accessibility bus on it, a real PulseAudio, and a real GTK window in a
recording process that goes by a browser's name."""

import os
import shutil
import signal
import subprocess
import time
import unittest

import desktop_session
import monitor
from programs import Program, installed_folder, writable_folder

TOOLS = os.environ.get("QUORBEL_TEST_TOOLS", os.path.join(os.path.dirname(monitor.BINARY), "tests", "tools"))
WINDOW_RECORDER = os.path.join(TOOLS, "window_recorder")
HOSTILE = 'Plan "Q3" \u2014 C:\\share\\x\x01\x1fy\ttab \u0417\u0432\u043e\u043d\u043e\u043a \U0001f399'
HOSTILE_AS_READ = HOSTILE.replace('"', "'")


class AccessibilityBus(desktop_session.DesktopTestCase):
    @classmethod
    def missing(cls):
        return super().missing() or ("" if os.path.exists(WINDOW_RECORDER) else "GTK")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.bin = installed_folder("quorbel-a11y-")
        cls.firefox = os.path.join(cls.bin, "firefox")
        shutil.copy(WINDOW_RECORDER, cls.firefox)

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.bin, ignore_errors=True)

    def env(self, wayland_session=True):
        env = self.desktop_env()
        if not wayland_session:
            del env["WAYLAND_DISPLAY"]
        return env

    def browser(self, *titles, backend="wayland", alert=None):
        """The browser in a call: a recording process with GTK windows."""
        argv = [self.firefox, "mic"]
        for title in titles:
            argv += ["--title", title]
        if alert:
            argv += ["--alert", alert]
        program = Program(argv, dict(self.env(), GDK_BACKEND=backend), wait_ready=True)
        self.programs.append(program)
        return program

    def snapshot(self, env=None, bound=3.0):
        started = time.monotonic()
        rc, out, err = monitor.run_once(env=env or self.env())
        self.assertEqual((rc, err), (0, b""))
        self.assertLess(time.monotonic() - started, bound, "a hung peer delays a line, never holds it")
        return monitor.parse_line(out)  # strict: raw control characters would fail here

    def titles_of(self, seen, pid):
        return [h["titles"] for h in seen["holders"] if h["pid"] == pid]

    def wait_for_titles(self, pid, count=1, env=None, timeout=10.0):
        """The first snapshot in which the holder pid has count titles (the
        toolkit registers on the bus, and shows each window, a moment after
        it starts)."""
        deadline = time.monotonic() + timeout
        while True:
            seen = self.snapshot(env)
            if [len(t) for t in self.titles_of(seen, pid)] == [count] or time.monotonic() > deadline:
                return seen
            time.sleep(0.2)

    def test_native_wayland_windows_give_their_titles(self):
        browser = self.browser("Weekly sync \u2014 Firefox", HOSTILE, alert="Firefox \u2014 Sharing Indicator")
        seen = self.wait_for_titles(browser.pid, count=2)
        self.assertTrue(seen["ax"])
        self.assertEqual([(h["pid"], h["bundle"], h["name"]) for h in seen["holders"]],
                         [(browser.pid, "org.mozilla.firefox", "firefox")])
        # The sharing indicator is an alert, not a window; the hostile title
        # is cleaned by the line's rules and nothing else.
        self.assertEqual(seen["holders"][0]["titles"], ["Weekly sync \u2014 Firefox", HOSTILE_AS_READ])

    def test_a_namesake_in_a_writable_folder_neither_adds_nor_pushes_out_titles(self):
        """Programs that only go by the browser's name, copied where anyone
        may write, register frames before and after the browser does."""
        folder = writable_folder("quorbel-namesake-")
        self.addCleanup(shutil.rmtree, folder, True)
        namesake = os.path.join(folder, "firefox")
        shutil.copy(WINDOW_RECORDER, namesake)

        def start(source, title):
            program = Program([namesake, source, "--title", title], dict(self.env(), GDK_BACKEND="wayland"),
                              wait_ready=True)
            self.programs.append(program)
            return program

        start(self.sound.speaker_monitor, "Namesake one")
        start(self.sound.speaker_monitor, "Namesake two")
        browser = self.browser("Real call \u2014 Firefox")
        listening = start(self.sound.mic, "Namesake three")
        seen = self.wait_for_titles(browser.pid)
        holders = {h["pid"]: (h["bundle"], h["name"], h["titles"]) for h in seen["holders"]}
        self.assertEqual(holders, {browser.pid: ("org.mozilla.firefox", "firefox", ["Real call \u2014 Firefox"]),
                                   # Listening under the browser's name makes it no browser.
                                   listening.pid: ("", "firefox", [])})

    def test_accessibility_switched_off_gives_no_titles(self):
        browser = self.browser("Weekly sync")
        self.wait_for_titles(browser.pid)
        self.desktop.set_accessibility(False)
        # GTK stays on the bus whatever the switch says; the monitor follows the switch.
        seen = self.snapshot()
        self.assertFalse(seen["ax"])
        self.assertEqual(self.titles_of(seen, browser.pid), [[]])

    def test_x_clients_read_from_x_once_in_either_session(self):
        browser = self.browser("One", "Two", backend="x11", alert="Indicator")
        for wayland_session in (False, True):
            with self.subTest(wayland_session=wayland_session):
                seen = self.wait_for_titles(browser.pid, count=2, env=self.env(wayland_session))
                self.assertTrue(seen["ax"])
                # On the bus and on X alike, each window once, and the dialog-typed alert on neither.
                self.assertEqual(sorted(self.titles_of(seen, browser.pid)[0]), ["One", "Two"])
        # With accessibility off, an X11 session still reads them: from X.
        self.desktop.set_accessibility(False)
        seen = self.snapshot(self.env(wayland_session=False))
        self.assertTrue(seen["ax"])
        self.assertEqual(sorted(self.titles_of(seen, browser.pid)[0]), ["One", "Two"])

    def test_a_stopped_peer_lets_once_and_the_stream_through(self):
        browser = self.browser("Meeting")
        self.wait_for_titles(browser.pid)
        peers = [
            ("application", lambda: browser.pid, True),
            ("accessibility bus", self.desktop.accessibility_bus_pid, False),
            ("bus launcher", self.desktop.launcher_pid, False),
            ("session bus", lambda: self.desktop.bus.pid, False),
        ]
        for what, pid_of, ax_while_stopped in peers:
            with self.subTest(stopped=what):
                pid = pid_of()
                self.assertIsNotNone(pid)
                with monitor.Running(self, env=self.env()) as running:
                    self.assertEqual(self.titles_of(running.next_line(), browser.pid), [["Meeting"]])
                    os.kill(pid, signal.SIGSTOP)
                    try:
                        seen = self.snapshot()
                        self.assertEqual((seen["ax"], self.titles_of(seen, browser.pid)),
                                         (ax_while_stopped, [[]]))
                        for _ in range(2):
                            self.assertEqual(self.titles_of(running.next_line(3.5), browser.pid), [[]])
                    finally:
                        os.kill(pid, signal.SIGCONT)
                    for _ in range(4):
                        seen = running.next_line(3.5)
                        if self.titles_of(seen, browser.pid) == [["Meeting"]]:
                            break
                    self.assertEqual(self.titles_of(seen, browser.pid), [["Meeting"]])
                    self.assertTrue(all(1.9 < gap < 3.2 for gap in running.gaps()), running.gaps())

    def test_a_bus_that_goes_away_and_comes_back_is_picked_up(self):
        browser = self.browser("Before")
        self.wait_for_titles(browser.pid)
        with monitor.Running(self, env=self.env()) as running:
            self.assertEqual(self.titles_of(running.next_line(), browser.pid), [["Before"]])
            self.desktop.stop_bus()
            # GLib ends a program whose session bus goes away, so the browser may be gone too.
            for _ in range(2):
                seen = running.next_line()
                self.assertFalse(seen["ax"])
                self.assertFalse(any(h["titles"] for h in seen["holders"]))
            self.desktop.start_bus()
            self.desktop.set_accessibility(True)
            self.programs.remove(browser)
            browser.end()
            browser = self.browser("After")
            for _ in range(6):
                seen = running.next_line()
                if self.titles_of(seen, browser.pid) == [["After"]]:
                    break
            self.assertTrue(seen["ax"])
            self.assertEqual(self.titles_of(seen, browser.pid), [["After"]])
            self.assertTrue(all(1.9 < gap < 3.2 for gap in running.gaps()), running.gaps())


class WhatAnIdleCycleAsks(unittest.TestCase):
    """Without a browser holder the trust check is the only question for any bus."""

    @classmethod
    def setUpClass(cls):
        if not desktop_session.WaylandDesktop.available() or not shutil.which("dbus-monitor"):
            raise unittest.SkipTest("weston, XWayland, at-spi2-core or dbus-monitor is not installed")
        cls.desktop = desktop_session.WaylandDesktop().start()
        cls.desktop.set_accessibility(True)

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()

    def method_calls_during_once(self, address):
        """(destination, member) of every method call on the bus at address while an idle --once runs."""
        watcher = subprocess.Popen(["dbus-monitor", "--address", address], env=self.desktop.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            watcher.stdout.readline()  # watching from here on
            rc, out, err = monitor.run_once(env=self.desktop.env)
            self.assertEqual((rc, err), (0, b""))
            self.assertEqual(monitor.parse_line(out), {"micInUse": False, "holders": [], "ax": True})
            time.sleep(0.3)
        finally:
            watcher.terminate()
            listing, _ = watcher.communicate(timeout=10)
        calls = []
        for line in listing.splitlines():
            if line.startswith("method call "):
                fields = dict(f.split("=", 1) for f in line.replace(";", "").split() if "=" in f)
                calls.append((fields.get("destination"), fields.get("member")))
        return calls

    def test_idle_once_asks_whether_accessibility_is_on_and_nothing_else(self):
        accessibility_bus = subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
             "--method", "org.a11y.Bus.GetAddress"], env=self.desktop.env, capture_output=True, text=True,
            check=True).stdout.strip()[2:-3]  # ('ADDRESS',)
        launcher = subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
             "--method", "org.freedesktop.DBus.GetNameOwner", "org.a11y.Bus"], env=self.desktop.env,
            capture_output=True, text=True, check=True).stdout.strip()[2:-3]
        # The launcher is asked by its unique name, the only sender whose answer counts.
        self.assertEqual(self.method_calls_during_once(self.desktop.bus_address),
                         [("org.freedesktop.DBus", "Hello"), ("org.freedesktop.DBus", "GetNameOwner"),
                          (launcher, "Get")])
        self.assertEqual(self.method_calls_during_once(accessibility_bus), [])


if __name__ == "__main__":
    unittest.main()
