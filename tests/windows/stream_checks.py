"""Checks of quorbel.exe's stream that hold wherever it runs: under Wine here
(the command starts with "wine") and on Windows itself (the workflow).

As a script: `stream_checks.py once EXE`, `stream_checks.py pipe EXE`, or
`stream_checks.py capture EXE CAPTURE_CLIENT` (exit status 77 where the
machine has no capture endpoint)."""

import os
import select
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from monitor import parse_line  # noqa: E402

ERROR_BROKEN_PIPE = 109
NO_CAPTURE_ENDPOINT = 77


class StreamError(AssertionError):
    pass


def _readline_within(stream, seconds):
    """One line, or StreamError after seconds (select does not serve pipes on Windows)."""
    if os.name != "nt":
        ready, _, _ = select.select([stream], [], [], seconds)
        if not ready:
            raise StreamError("no line within %.0f s" % seconds)
        return stream.readline()
    result = []
    reader = threading.Thread(target=lambda: result.append(stream.readline()), daemon=True)
    reader.start()
    reader.join(seconds)
    if not result:
        raise StreamError("no line within %.0f s" % seconds)
    return result[0]


def once(command, env=None):
    """The snapshot of one --once run, after checking its status and silence."""
    done = subprocess.run(command + ["--once"], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if done.returncode != 0 or done.stderr:
        raise StreamError("status %d, standard error %r" % (done.returncode, done.stderr[:500]))
    return parse_line(done.stdout)


def pipe(command, env=None, first_line_within=5.0, end_within=6.0):
    """The first line soon after the start (flushed, not left in a buffer),
    lines with a bare line feed, and an end with ERROR_BROKEN_PIPE soon after
    the reader closes its end."""
    proc = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        first = _readline_within(proc.stdout, first_line_within)
        parse_line(first)  # one line feed, no carriage return
        second = _readline_within(proc.stdout, 5.0)
        if second != first:
            raise StreamError("the second line differs on an idle machine: %r %r" % (first, second))
        proc.stdout.close()
        try:
            proc.wait(timeout=end_within)
        except subprocess.TimeoutExpired:
            raise StreamError("still running %.0f s after the reader closed the pipe" % end_within)
        if proc.returncode != ERROR_BROKEN_PIPE:
            raise StreamError("ended with status %d" % proc.returncode)
        err = proc.stderr.read()
        if err:
            raise StreamError("wrote to standard error: %r" % err[:500])
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        for stream in (proc.stdout, proc.stderr):
            stream.close()


def capture(command, client_command, env=None):
    """A process recording from the default capture endpoint is the holder."""
    client = subprocess.Popen(client_command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    try:
        line = _readline_within(client.stdout, 30)
        if not line:
            client.wait(timeout=30)
            if client.returncode == 2:
                return NO_CAPTURE_ENDPOINT
            raise StreamError("the capture client failed with status %d" % client.returncode)
        pid = int(line)
        deadline = time.monotonic() + 10
        while True:
            snapshot = once(command, env)
            if snapshot["micInUse"] and pid in [holder["pid"] for holder in snapshot["holders"]]:
                return 0
            if time.monotonic() > deadline:
                raise StreamError("the capturing process %d is not among the holders: %r" % (pid, snapshot))
            time.sleep(0.5)
    finally:
        client.stdin.close()
        client.wait(timeout=30)
        client.stdout.close()


if __name__ == "__main__":
    action, exe = sys.argv[1], sys.argv[2]
    if action == "once":
        print(once([exe]))
    elif action == "pipe":
        pipe([exe])
    elif action == "capture":
        sys.exit(capture([exe], [sys.argv[3]]))
    else:
        sys.exit("unknown check: " + action)
