"""A Wayland desktop for end-to-end tests: a headless weston with XWayland, and
a private session bus on which the accessibility bus (at-spi2-core) starts on
demand, all in a private runtime directory."""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

from sound_servers import PulseAudio, wait_for

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def _become_subreaper():
    """Processes that the desktop's services leave behind (dbus-daemon starts
    the launcher detached) become this process's children, so they can be
    waited for instead of lingering as zombies."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (AttributeError, OSError):
        pass


def _arguments(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            return [a.decode(errors="replace") for a in cmdline.read().split(b"\0") if a]
    except OSError:
        return []


def _is_bus_service(argv):
    """The launcher, the accessibility bus and its registry."""
    name = os.path.basename(argv[0])
    return argv[0] == LAUNCHER or name == "at-spi2-registryd" or (
        name.startswith("dbus-") and any("at-spi2" in a for a in argv))


def _reap(pid):
    try:
        os.waitpid(pid, os.WNOHANG)
    except ChildProcessError:
        pass


class WaylandDesktop:
    def __init__(self):
        _become_subreaper()
        self.dir = tempfile.mkdtemp(prefix="quorbel-desktop-")
        os.chmod(self.dir, 0o700)  # weston insists on a private runtime directory
        self.bus_address = "unix:path=" + os.path.join(self.dir, "bus")
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "DBUS_SESSION_BUS_ADDRESS")}
        self.env.update(XDG_RUNTIME_DIR=self.dir, HOME=self.dir, DBUS_SESSION_BUS_ADDRESS=self.bus_address,
                        WAYLAND_DISPLAY="wayland-quorbel")
        self.bus = None
        self.weston = None

    @staticmethod
    def available():
        return all(shutil.which(p) for p in ("weston", "Xwayland", "dbus-daemon", "gdbus")) and os.path.exists(LAUNCHER)

    def _spawn(self, argv, log):
        with open(os.path.join(self.dir, log), "ab") as out:
            return subprocess.Popen(argv, env=self.env, stdout=out, stderr=out, stdin=subprocess.DEVNULL)

    def start(self):
        try:
            self.start_bus()
            self.weston = self._spawn(["weston", "--backend=headless-backend.so", "--xwayland",
                                       "--socket=wayland-quorbel", "--idle-time=0"], "weston.log")
            log = os.path.join(self.dir, "weston.log")
            wait_for(lambda: self._x_display(log), 15, "weston")
            self.env["DISPLAY"] = self._x_display(log)
        except Exception:
            self.stop()
            raise
        return self

    @staticmethod
    def _x_display(log):
        with open(log) as text:
            found = re.search(r"xserver listening on display (:\d+)", text.read())
        return found.group(1) if found else None

    def start_bus(self):
        bus = os.path.join(self.dir, "bus")
        if os.path.exists(bus):
            os.unlink(bus)
        self.bus = self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                "--address=" + self.bus_address], "dbus.log")
        wait_for(lambda: os.path.exists(bus), 10, "the session bus")

    def set_accessibility(self, on):
        """As a person switching accessibility on or off would; starts the
        accessibility bus when it is not running yet."""
        subprocess.run(["gdbus", "call", "--session", "--dest", "org.a11y.Bus", "--object-path", "/org/a11y/bus",
                        "--method", "org.freedesktop.DBus.Properties.Set", "org.a11y.Status", "IsEnabled",
                        "<true>" if on else "<false>"], env=self.env, check=True, capture_output=True, timeout=10)

    def processes(self):
        """Every live process started in this desktop, found by its runtime
        directory: the services the session bus starts are not its children."""
        marker = ("XDG_RUNTIME_DIR=" + self.dir + "\0").encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as environ:
                    if marker in environ.read() and _arguments(int(entry)):
                        found.append(int(entry))
            except OSError:
                continue
        return found

    def _find(self, test):
        for pid in self.processes():
            argv = _arguments(pid)
            if argv and test(argv):
                return pid
        return None

    def launcher_pid(self):
        return self._find(lambda argv: argv[0] == LAUNCHER)

    def accessibility_bus_pid(self):
        return self._find(lambda argv: os.path.basename(argv[0]).startswith("dbus-") and
                          any("at-spi2" in a for a in argv))

    def stop_bus(self):
        """Ends the session bus and what it started (the launcher, the
        accessibility bus and its registry), as a crash would."""
        if self.bus is None:
            return
        self.bus.kill()
        self.bus.wait()
        self.bus = None
        self._end(_is_bus_service)

    def _end(self, test):
        doomed = []
        for pid in self.processes():
            argv = _arguments(pid)
            if argv and test(argv):  # a process may end while it is looked at
                doomed.append(pid)
        for pid in doomed:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for pid in doomed:
            wait_for(lambda: (_reap(pid), not _arguments(pid))[1], 10, "process %d to end" % pid)

    def stop(self):
        if self.weston is not None:
            self.weston.send_signal(signal.SIGTERM)
            try:
                self.weston.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.weston.kill()
                self.weston.wait()
            self.weston = None
        self.stop_bus()
        self._end(lambda argv: _is_bus_service(argv) or os.path.basename(argv[0]).startswith(("weston", "Xwayland")))
        shutil.rmtree(self.dir, ignore_errors=True)


class DesktopTestCase(unittest.TestCase):
    """Tests against a Wayland desktop with accessibility switched on and a
    real PulseAudio, both started once for the class. The programs a test
    adds to self.programs end with it, and a session bus it stopped is
    started again."""

    @classmethod
    def missing(cls):
        """What the class needs and does not find; empty when nothing is missing."""
        return "" if WaylandDesktop.available() and PulseAudio.available() else "weston, at-spi2-core or PulseAudio"

    @classmethod
    def setUpClass(cls):
        missing = cls.missing()
        if missing:
            raise unittest.SkipTest(missing + " is not installed")
        cls.sound = PulseAudio().start()
        try:
            cls.desktop = WaylandDesktop().start()
        except Exception:
            cls.sound.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.desktop.stop()
        cls.sound.stop()

    def setUp(self):
        self.programs = []
        self.desktop.set_accessibility(True)

    def tearDown(self):
        for program in reversed(self.programs):
            program.end()
        if self.desktop.bus is None:
            self.desktop.start_bus()

    def desktop_env(self, **extra):
        """The desktop's environment with the sound server's address."""
        return dict(self.desktop.env, PULSE_SERVER="unix:" + os.path.join(self.sound.dir, "pulse", "native"), **extra)
