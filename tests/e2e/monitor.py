"""Helpers for end-to-end tests of the real quorbel binary."""

import json
import os
import subprocess
import tempfile

import jsonschema

BINARY = os.environ.get("QUORBEL_BINARY", os.path.join(os.path.dirname(__file__), "..", "..", "build", "quorbel"))
SCHEMA_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "schema",
                           "quorbel-line.schema.json")


def _load_schema():
    with open(SCHEMA_PATH, encoding="utf-8") as text:
        schema = json.load(text)
    validator = jsonschema.validators.validator_for(schema)
    validator.check_schema(schema)
    return schema, validator(schema)


SCHEMA, VALIDATOR = _load_schema()
# The schema lists each object's members in the order the line writes them.
_MEMBER_ORDERS = (list(SCHEMA["properties"]), list(SCHEMA["$defs"]["holder"]["properties"]))


class LineError(ValueError):
    """A line that breaks the form the schema cannot state."""


def _members(pairs):
    keys = [key for key, _ in pairs]
    if len(set(keys)) != len(keys):
        raise LineError("a member twice: %s" % keys)
    for order in _MEMBER_ORDERS:
        if set(keys) == set(order) and keys != order:
            raise LineError("members out of order: %s" % keys)
    return dict(pairs)


def _no_fraction(text):
    raise LineError("a number with a fraction or an exponent: %s" % text)


def _no_constant(text):
    raise LineError("not JSON: %s" % text)


def parse_line(raw):
    """The snapshot that one line of output (bytes, with its line feed) holds,
    once it has passed the schema and what the schema cannot state: one line
    feed at the end and none before, UTF-8, members in order and each once,
    integers without fraction or exponent, no whitespace outside strings."""
    if not raw.endswith(b"\n") or raw.count(b"\n") != 1:
        raise LineError("not one line: %r" % raw[:200])
    text = raw[:-1].decode("utf-8")
    snapshot = json.loads(text, object_pairs_hook=_members, parse_float=_no_fraction, parse_constant=_no_constant)
    VALIDATOR.validate(snapshot)
    if json.dumps(snapshot, ensure_ascii=False, separators=(",", ":")) != text:
        raise LineError("whitespace outside strings: %r" % text[:200])
    return snapshot


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
    """Runs the binary to its end and checks every line it wrote; returns
    (returncode, stdout bytes, stderr bytes)."""
    argv = [argv0 if argv0 is not None else BINARY, *args]
    done = subprocess.run(argv, executable=BINARY, env=env or quiet_environment(), capture_output=True,
                          timeout=timeout)
    start = 0
    while start < len(done.stdout):
        end = done.stdout.find(b"\n", start) + 1 or len(done.stdout)
        parse_line(done.stdout[start:end])
        start = end
    return done.returncode, done.stdout, done.stderr


def start(args=(), env=None, argv0=None):
    """Starts the monitor with its output on a pipe."""
    argv = [argv0 if argv0 is not None else BINARY, *args]
    return subprocess.Popen(argv, executable=BINARY, env=env or quiet_environment(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


class Running:
    """The monitor running with its output on a pipe, for a with-block.
    next_line() reads and checks one snapshot line within a timeout, keeping
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
        import select
        import time
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        self.test.assertTrue(ready, "a line every two seconds")
        line = self.proc.stdout.readline()
        self.stamps.append(time.monotonic())
        return parse_line(line)

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
