"""Real sound servers for end-to-end tests, each in a private runtime directory
with a null source as the microphone and a null sink as the speaker."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from programs import wait_until


def _end(procs):
    """Kills what still runs, as a crash would, and waits for each."""
    for proc in reversed(procs):
        if proc.poll() is None:
            proc.send_signal(signal.SIGKILL)
        proc.wait()


def wait_for(predicate, timeout, what, log=None):
    """Raises when predicate stays false; with the tail of log, the server's
    own word on why it did not come up."""
    if not wait_until(predicate, timeout):
        said = ""
        if log:
            try:
                with open(log, "rb") as written:
                    said = ": " + written.read()[-2000:].decode(errors="replace")
            except OSError:
                said = ": no log at " + log
        raise RuntimeError("timed out waiting for " + what + said)


def listening(path):
    """Whether a server accepts connections on the unix socket at path: a
    socket file alone may be the one a killed server left behind."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        try:
            probe.connect(path)
            return True
        except OSError:
            return False


class SoundServer:
    """Common part: a runtime directory, an environment for clients, and the
    processes started, which stop() ends."""

    name = "?"
    mic = "mic"
    speaker_monitor = "speaker.monitor"

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="quorbel-%s-" % self.name)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("PULSE_SERVER", "DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                                 "AT_SPI_BUS_ADDRESS")}
        self.env.update(XDG_RUNTIME_DIR=self.dir, HOME=self.dir, PULSE_RUNTIME_PATH=os.path.join(self.dir, "pulse"))
        self.procs = []

    @staticmethod
    def available():
        raise NotImplementedError

    def log_of(self, program):
        return os.path.join(self.dir, program + ".log")

    def spawn(self, argv, **kwargs):
        log = open(self.log_of(os.path.basename(argv[0])), "ab")
        proc = subprocess.Popen(argv, env=self.env, stdout=log, stderr=log, stdin=subprocess.DEVNULL, **kwargs)
        log.close()
        self.procs.append(proc)
        return proc

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True, timeout=10)

    def answers(self):
        return self.pactl("info").returncode == 0

    def source_names(self):
        listed = self.pactl("list", "sources", "short").stdout
        return [line.split("\t")[1] for line in listed.splitlines() if "\t" in line]

    def server_procs(self):
        return [p for p in self.procs if os.path.basename(p.args[0]) != "dbus-daemon" and p.poll() is None]

    def signal_server(self, signum):
        for proc in self.server_procs():
            proc.send_signal(signum)

    def stop_server(self):
        """Ends the server processes, as a crash would, and waits for them."""
        _end(self.procs)
        self.procs = []

    def restart_server(self):
        self.start()

    def stop(self):
        self.stop_server()
        shutil.rmtree(self.dir, ignore_errors=True)


class PulseAudio(SoundServer):
    name = "pulseaudio"

    @staticmethod
    def available():
        return shutil.which("pulseaudio") is not None and shutil.which("pactl") is not None

    def start(self):
        self.spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                    "--log-target=stderr", "--load=module-native-protocol-unix",
                    "--load=module-null-source source_name=mic",
                    "--load=module-null-sink sink_name=speaker"])
        wait_for(lambda: {"mic", "speaker.monitor"} <= set(self.source_names()), 15, "PulseAudio",
                 self.log_of("pulseaudio"))
        return self


class PipeWire(SoundServer):
    name = "pipewire"

    @staticmethod
    def available():
        return all(shutil.which(p) for p in ("pipewire", "pipewire-pulse", "wireplumber", "dbus-daemon", "pactl",
                                              "pw-record"))

    def start(self):
        bus = os.path.join(self.dir, "bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus
        self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + bus])
        wait_for(lambda: os.path.exists(bus), 10, "the session bus")
        self.start_server()
        return self

    def start_server(self):
        core = os.path.join(self.dir, "pipewire-0")
        pulse = os.path.join(self.env["PULSE_RUNTIME_PATH"], "native")
        self.spawn(["pipewire"])
        # On a restart the killed servers' socket files are still there: wait
        # for servers that accept, or WirePlumber gives up on a PipeWire that
        # is not yet listening and no stream is ever linked.
        wait_for(lambda: listening(core), 10, "PipeWire", self.log_of("pipewire"))
        # WirePlumber links streams to devices, so it runs before any device is made.
        self.spawn(["wireplumber"])
        # pipewire-pulse gives up when its runtime folder appears between its
        # own check and its mkdir, and every libpulse client (pactl polling
        # below) makes that folder on its first try: make it first, and ask
        # nothing before the server accepts on its socket.
        os.makedirs(self.env["PULSE_RUNTIME_PATH"], mode=0o700, exist_ok=True)
        self.spawn(["pipewire-pulse"])
        wait_for(lambda: listening(pulse), 15, "the pipewire-pulse socket", self.log_of("pipewire-pulse"))
        wait_for(self.answers, 15, "pipewire-pulse", self.log_of("pipewire-pulse"))
        time.sleep(0.5)
        self.pactl("load-module", "module-null-sink", "media.class=Audio/Source/Virtual", "sink_name=mic")
        self.pactl("load-module", "module-null-sink", "sink_name=speaker")
        wait_for(lambda: {"mic", "speaker.monitor"} <= set(self.source_names()), 15, "the test devices")

    def stop_server(self):
        """Ends PipeWire and its pulse server; the session bus stays."""
        _end(self.server_procs())
        self.procs = [p for p in self.procs if p.poll() is None]

    def restart_server(self):
        self.start_server()

    def stop(self):
        _end(self.procs)
        self.procs = []
        shutil.rmtree(self.dir, ignore_errors=True)


class OnServer:
    """A test-class mixin: one server_class server for the whole class, ended
    also when starting it fails half-way."""

    server_class = None

    @classmethod
    def setUpClass(cls):
        if not cls.server_class.available():
            raise unittest.SkipTest(cls.server_class.name + " is not installed")
        server = cls.server_class()
        try:
            cls.server = server.start()
        except BaseException:
            server.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
