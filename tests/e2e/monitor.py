"""Helpers for end-to-end tests of the real quorbel binary."""

import os
import subprocess
import tempfile

BINARY = os.environ.get("QUORBEL_BINARY", os.path.join(os.path.dirname(__file__), "..", "..", "build", "quorbel"))


def quiet_environment(**extra):
    """An environment in which the monitor finds no sound server and no display,
    unless the test supplies them."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "PULSE_SERVER", "XDG_RUNTIME_DIR", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS",
                        "AT_SPI_BUS_ADDRESS")}
    runtime = tempfile.mkdtemp(prefix="quorbel-e2e-")
    env["XDG_RUNTIME_DIR"] = runtime
    env["PULSE_SERVER"] = "unix:" + os.path.join(runtime, "no-such-server")
    env["HOME"] = runtime
    env.update(extra)
    return env


def run_once(args=("--once",), env=None, argv0=None, timeout=20):
    """Runs the binary to its end; returns (returncode, stdout bytes, stderr bytes)."""
    argv = [argv0 if argv0 is not None else BINARY, *args]
    done = subprocess.run(argv, executable=BINARY, env=env or quiet_environment(), capture_output=True,
                          timeout=timeout)
    return done.returncode, done.stdout, done.stderr


def start(args=(), env=None, argv0=None):
    """Starts the monitor with its output on a pipe."""
    argv = [argv0 if argv0 is not None else BINARY, *args]
    return subprocess.Popen(argv, executable=BINARY, env=env or quiet_environment(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


class Running:
    """The monitor running with its output on a pipe, for a with-block.
    next_line() reads and parses one snapshot line within a timeout, keeping
    when each came in; on leaving, the monitor is killed and must not have
    written anything to standard error."""

    def __init__(self, test, args=(), env=None):
        self.test = test
        self.args = args
        self.env = env
        self.stamps = []

    def __enter__(self):
        self.proc = start(self.args, env=self.env)
        return self

    def next_line(self, timeout=4.0):
        import json
        import select
        import time
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        self.test.assertTrue(ready, "a line every two seconds")
        line = self.proc.stdout.readline()
        self.stamps.append(time.monotonic())
        return json.loads(line)

    def gaps(self):
        return [b - a for a, b in zip(self.stamps, self.stamps[1:])]

    def __exit__(self, *exc):
        self.proc.kill()
        self.proc.wait()
        stderr = self.proc.stderr.read()
        self.proc.stdout.close()
        self.proc.stderr.close()
        if exc[0] is None:
            self.test.assertEqual(stderr, b"")
        return False
