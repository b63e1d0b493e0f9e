"""Helpers for end-to-end tests of the real quorbel binary."""

import os
import subprocess
import tempfile

BINARY = os.environ.get("QUORBEL_BINARY", os.path.join(os.path.dirname(__file__), "..", "..", "build", "quorbel"))


def quiet_environment(**extra):
    """An environment in which the monitor finds no sound server and no display,
    unless the test supplies them."""
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "PULSE_SERVER", "XDG_RUNTIME_DIR")}
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
