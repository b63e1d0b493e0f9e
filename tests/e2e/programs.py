"""Helper programs that a test starts and ends."""

import select
import subprocess
import tempfile


class Program:
    """A program that runs until the test ends it; with wait_ready, started
    only once it has written "ready". What it writes to standard error is
    kept for errors() to tell."""

    def __init__(self, argv, env, wait_ready=False):
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, stderr=self.stderr)
        if wait_ready:
            ready, _, _ = select.select([self.proc.stdout], [], [], 10)
            if not (ready and self.proc.stdout.readline() == b"ready\n"):
                errors = self.errors()
                self.end()
                raise AssertionError("%s did not start: %s" % (argv[0], errors))

    @property
    def pid(self):
        return self.proc.pid

    def errors(self):
        self.stderr.seek(0)
        return self.stderr.read().decode(errors="replace")

    def end(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()
        self.stderr.close()
