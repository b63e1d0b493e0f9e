"""The real binary against peers on the desktop's buses that lie, dawdle or
never answer, and against bus addresses that would start a program: a
headless weston, a private session bus with at-spi2-core's launcher, a real
PulseAudio, and applications on the accessibility bus written on GLib's
D-Bus client (bus_peers.py) under browsers' names."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

import desktop_session
import monitor
import sandboxes
from programs import Program, descendants, installed_folder, wait_until

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bus_peers.py")
SYSTEM_PYTHON = "/usr/bin/python3"
FORGED_TITLE = "Forged by a peer"


def _gi_available():
    return os.path.exists(SYSTEM_PYTHON) and subprocess.run(
        [SYSTEM_PYTHON, "-c", "import gi; gi.require_version('Gio', '2.0')"], capture_output=True).returncode == 0


class BusPeers(desktop_session.DesktopTestCase):
    @classmethod
    def missing(cls):
        return super().missing() or ("" if shutil.which("parecord") and _gi_available() else "parecord or PyGObject")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # The system's Python under browsers' names, where an installed
        # browser lies: the monitor knows a browser by its executable.
        cls.bin = installed_folder("quorbel-peers-")
        for name in ("chromium", "firefox"):
            shutil.copy(os.path.realpath(SYSTEM_PYTHON), os.path.join(cls.bin, name))

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        shutil.rmtree(cls.bin, ignore_errors=True)

    def env(self, **extra):
        return self.desktop_env(**extra)

    def start(self, argv):
        program = Program(argv, self.env(), wait_ready=True)
        self.programs.append(program)
        return program

    def application(self, browser, *titles, nameless=0, delay=0.0, record=True):
        argv = [os.path.join(self.bin, browser), PEERS, "application", "--nameless", str(nameless),
                "--delay", str(delay)]
        for title in titles:
            argv += ["--title", title]
        if record:
            argv += ["--record", "mic"]
        return self.start(argv)

    def forger(self, bus):
        return self.start([SYSTEM_PYTHON, PEERS, "forger", "--" + bus])

    def snapshot(self, env=None, bound=1.5):
        started = time.monotonic()
        rc, out, err = monitor.run_once(env=env or self.env())
        took = time.monotonic() - started
        self.assertEqual((rc, err), (0, b""))
        self.assertLess(took, bound, "--once returns within its bound whatever the peers do")
        return monitor.parse_line(out)

    def titles_of(self, seen, pid):
        return [h["titles"] for h in seen["holders"] if h["pid"] == pid]

    def wait_for_holder(self, pid, titled=True, timeout=10.0):
        """The first snapshot with pid as a holder (with titles, if titled):
        its recording, and its registration on the bus, come a moment after
        it is ready."""
        deadline = time.monotonic() + timeout
        while True:
            seen = self.snapshot(bound=3.0)
            found = self.titles_of(seen, pid)
            if found and (found[0] or not titled) or time.monotonic() > deadline:
                return seen
            time.sleep(0.2)

    def once_while_stopped(self, pid, env, stopped_for=0.25):
        """--once with pid stopped until the monitor has asked it: whoever
        answers in the meantime answers first."""
        os.kill(pid, signal.SIGSTOP)
        try:
            started = time.monotonic()
            proc = monitor.start(("--once",), env=env)
            time.sleep(stopped_for)
        finally:
            os.kill(pid, signal.SIGCONT)
        out, err = proc.communicate(timeout=20)
        self.assertEqual((proc.returncode, err), (0, b""))
        self.assertLess(time.monotonic() - started, 1.5)
        return monitor.parse_line(out)

    def test_nameless_frames_are_no_windows(self):
        # Seven windows as Chromium's toolkit lists them: each one's frame and
        # two nameless frames after it; all seven titles fit in the twelve.
        titles = ["Tab %d - Chromium" % i for i in range(1, 8)]
        browser = self.application("chromium", *titles, nameless=2)
        seen = self.wait_for_holder(browser.pid)
        self.assertEqual([(h["pid"], h["bundle"], h["titles"]) for h in seen["holders"]],
                         [(browser.pid, "org.chromium.Chromium", titles)])

    def test_forged_replies_are_dropped_and_the_real_ones_count(self):
        # The application takes a tenth of a second to answer: the forgers
        # answer first.
        browser = self.application("chromium", "Weekly sync - Chromium", delay=0.1)
        self.wait_for_holder(browser.pid)
        self.forger("accessibility")
        self.forger("session")
        for run in range(3):
            with self.subTest(run=run):
                seen = self.snapshot()
                self.assertNotIn(FORGED_TITLE, str(seen))
                self.assertTrue(seen["ax"])
                self.assertEqual(self.titles_of(seen, browser.pid), [["Weekly sync - Chromium"]])
        self.desktop.set_accessibility(False)
        # Told where the accessibility bus is, the monitor asks the launcher
        # one thing only, and the forger says yes before the launcher says no.
        address = subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
             "--method", "org.a11y.Bus.GetAddress"], env=self.desktop.env, capture_output=True, text=True,
            check=True).stdout.strip()[2:-3]
        for run in range(3):
            with self.subTest(run=run, accessibility="off"):
                seen = self.once_while_stopped(self.desktop.launcher_pid(), self.env(AT_SPI_BUS_ADDRESS=address))
                self.assertFalse(seen["ax"])
                self.assertEqual(self.titles_of(seen, browser.pid), [[]])

    def test_slow_applications_share_the_cycles_bound(self):
        # Two applications of the browser's family that answer every question
        # just inside the bound of one question, and five browser holders that
        # each ask for their windows.
        slow = [self.application("firefox", "Slow %d" % i, delay=0.39, record=False) for i in range(2)]
        holders = [self.application("firefox", "Holder %d" % i) for i in range(5)]
        for holder in holders:
            self.wait_for_holder(holder.pid, titled=False)
        seen = self.snapshot()
        self.assertTrue(seen["ax"])
        self.assertEqual(sorted(h["pid"] for h in seen["holders"]), sorted(h.pid for h in holders))
        with monitor.Running(self, env=self.env()) as running:
            for _ in range(4):
                running.next_line()
            self.assertTrue(all(gap <= 3.0 for gap in running.gaps()), running.gaps())
        self.assertTrue(all(s.proc.poll() is None for s in slow))

    def test_a_peer_that_floods_the_connection_holds_nothing_up(self):
        browser = self.application("chromium", "Weekly sync - Chromium")
        self.wait_for_holder(browser.pid)
        self.start([SYSTEM_PYTHON, PEERS, "flooder"])
        for _ in range(3):
            self.snapshot()
        with monitor.Running(self, env=self.env()) as running:
            for _ in range(4):
                running.next_line()
            self.assertTrue(all(gap <= 3.0 for gap in running.gaps()), running.gaps())

    def test_a_launcher_that_has_not_started_its_bus_is_not_made_to(self):
        self.desktop.stop_bus()
        self.desktop.start_bus()
        # Switched on, as a desktop does it: the launcher runs, its bus does not yet.
        self.desktop.set_accessibility(True)
        self.assertIsNotNone(self.desktop.launcher_pid())
        # A browser holder: the monitor looks for its windows on the bus.
        holder = self.start([os.path.join(self.bin, "firefox"), PEERS, "recorder", "--record", "mic"])
        self.wait_for_holder(holder.pid, titled=False)
        seen = [self.snapshot() for _ in range(3)]
        time.sleep(0.3)
        self.assertIsNone(self.desktop.accessibility_bus_pid())
        # Switched on, with no application on the bus yet: titles are readable, there are none.
        self.assertEqual([(s["ax"], self.titles_of(s, holder.pid)) for s in seen], [(True, [[]])] * 3)

    def test_a_session_without_the_launcher_is_asked_on_one_connection(self):
        self.desktop.stop_bus()
        self.desktop.start_bus()
        watcher = subprocess.Popen(["dbus-monitor", "--address", self.desktop.bus_address], env=self.desktop.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            watcher.stdout.readline()  # watching from here on
            with monitor.Running(self, env=self.env()) as running:
                self.assertEqual([running.next_line()["ax"] for _ in range(3)], [False] * 3)
        finally:
            watcher.terminate()
            listing, _ = watcher.communicate(timeout=10)
        members = [line.rsplit("member=", 1)[1] for line in listing.splitlines()
                   if line.startswith("method call ") and "member=" in line]
        # No owner of org.a11y.Bus is an answer, not a bus that stopped answering.
        self.assertEqual(members.count("Hello"), 1, members)
        self.assertNotIn("Get", members)
        self.assertIsNone(self.desktop.launcher_pid())

    def test_a_launcher_that_comes_after_the_monitor_is_heard_of(self):
        self.desktop.stop_bus()
        self.desktop.start_bus()
        with monitor.Running(self, env=self.env()) as running:
            # Found without an owner in each of these cycles: from the second
            # on, the monitor waits for the bus to tell of one instead of asking.
            self.assertEqual([running.next_line()["ax"] for _ in range(3)], [False] * 3)
            self.desktop.set_accessibility(True)
            self.assertIsNotNone(self.desktop.launcher_pid())
            browser = self.application("firefox", "Meeting")
            for _ in range(6):
                seen = running.next_line()
                if self.titles_of(seen, browser.pid) == [["Meeting"]]:
                    break
            self.assertTrue(seen["ax"])
            self.assertEqual(self.titles_of(seen, browser.pid), [["Meeting"]])

    def accessibility_address(self):
        return subprocess.run(
            ["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
             "--method", "org.a11y.Bus.GetAddress"], env=self.desktop.env, capture_output=True, text=True,
            check=True).stdout.strip()[2:-3]

    @unittest.skipUnless(sandboxes.available() and shutil.which("xdg-dbus-proxy"), "bwrap or xdg-dbus-proxy is missing")
    def test_a_flatpak_browser_reaches_the_bus_through_its_proxy(self):
        # As Flatpak runs one: the accessibility bus's proxy under a bubblewrap
        # of its own, and the browser under another, both with the instance's
        # /.flatpak-info, the browser joining the bus through the proxy's socket.
        bus_path = self.accessibility_address().split("unix:path=", 1)[1].split(",", 1)[0]
        sockets = tempfile.mkdtemp(prefix="quorbel-proxy-", dir=self.desktop.dir)
        proxy_socket = os.path.join(sockets, "a11y-bus")
        proxy = sandboxes.bubblewrapped(
            ["xdg-dbus-proxy", "unix:path=" + bus_path, proxy_socket, "--filter", "--sloppy-names",
             "--call=org.a11y.atspi.Registry=org.a11y.atspi.Socket.Embed@/org/a11y/atspi/accessible/root"],
            self.env(), "xdg-dbus-proxy", "org.chromium.Chromium", binds=(os.path.dirname(bus_path), sockets),
            instance="1984")
        self.addCleanup(proxy.end)
        self.assertTrue(wait_until(lambda: os.path.exists(proxy_socket), 10), proxy.launcher.errors())
        browser = sandboxes.bubblewrapped(
            [os.path.join(self.bin, "chromium"), PEERS, "application", "--title", "Weekly sync - Chromium",
             "--nameless", "2"],
            self.env(AT_SPI_BUS_ADDRESS="unix:path=" + proxy_socket), "chromium", "org.chromium.Chromium",
            binds=(self.bin, os.path.dirname(PEERS), sockets), wait_ready=True, instance="1984")
        self.addCleanup(browser.end)
        # A browser holder of the same family on the host.
        holder = self.start([os.path.join(self.bin, "chromium"), PEERS, "recorder", "--record", "mic"])
        seen = self.wait_for_holder(holder.pid)
        self.assertEqual(self.titles_of(seen, holder.pid), [["Weekly sync - Chromium"]])

    def transport_program(self):
        """A program that leaves a mark when it is started."""
        self.marks = tempfile.mkdtemp(prefix="quorbel-addresses-")
        self.addCleanup(shutil.rmtree, self.marks, True)
        self.started = os.path.join(self.marks, "started")
        program = os.path.join(self.marks, "transport")
        with open(program, "w") as script:
            script.write("#!/bin/sh\ntouch %s\nexec sleep 300\n" % self.started)
        os.chmod(program, 0o755)
        return program

    def once_watching_children(self, env):
        started = time.monotonic()
        proc = monitor.start(("--once",), env=env)
        children = set()
        while proc.poll() is None and time.monotonic() - started < 10:
            children.update(descendants(proc.pid))
            time.sleep(0.01)
        if proc.poll() is None:
            proc.kill()
        out, err = proc.communicate()
        self.assertEqual((proc.returncode, err), (0, b""), "--once returns")
        self.assertLess(time.monotonic() - started, 1.5)
        return monitor.parse_line(out), children

    def test_addresses_that_start_a_program_are_never_opened(self):
        program = self.transport_program()
        holder = self.application("firefox", "Weekly sync")
        self.assertEqual(self.titles_of(self.wait_for_holder(holder.pid), holder.pid), [["Weekly sync"]])
        starting = ["unixexec:path=%s,argv1=300" % program, "autolaunch:", "autolaunch:scope=*user",
                    "launchd:env=QUORBEL_NO_SUCH", "unix:path=%s/none;unixexec:path=%s" % (self.marks, program)]
        for address in starting:
            for variable in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                with self.subTest(address=address, variable=variable):
                    seen, children = self.once_watching_children(self.env(**{variable: address}))
                    self.assertEqual(self.titles_of(seen, holder.pid), [[]])
                    self.assertEqual(children, set())
                    self.assertFalse(os.path.exists(self.started))

    def test_a_bus_that_never_accepts_holds_nothing_up(self):
        holder = self.application("firefox", "Weekly sync")
        self.wait_for_holder(holder.pid)
        path = os.path.join(self.desktop.dir, "full-bus")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(path)
        listener.listen(0)
        waiting = []
        try:
            # Fill its backlog: a blocking connect would now wait for good.
            while True:
                client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                client.setblocking(False)
                try:
                    client.connect(path)
                except BlockingIOError:
                    client.close()
                    break
                waiting.append(client)
            for variable in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                with self.subTest(variable=variable):
                    seen, _ = self.once_watching_children(self.env(**{variable: "unix:path=" + path}))
                    self.assertEqual(self.titles_of(seen, holder.pid), [[]])
        finally:
            for client in waiting:
                client.close()
            listener.close()
            os.unlink(path)


if __name__ == "__main__":
    unittest.main()
