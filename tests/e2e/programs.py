"""Helper programs that a test starts and ends."""

import os
import select
import subprocess
import tempfile
import time


def wait_until(predicate, timeout):
    """Whether predicate came true within timeout seconds."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def children(pid):
    """The pids of the processes whose parent is pid."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if fields[1] == str(pid):
            found.append(int(entry))
    return found


def descendants(pid):
    """The pids below pid, each parent before its children."""
    found = []
    for child in children(pid):
        found.append(child)
        found.extend(descendants(child))
    return found


def command_name(pid):
    """The process's command name; empty once it has gone."""
    try:
        with open("/proc/%d/comm" % pid) as name:
            return name.read().strip()
    except OSError:
        return ""


def installed_folder(prefix):
    """A new folder where vendors install programs (/opt): root's and
    writable by no one else all the way up, as a package leaves it, so a
    program copied there goes by its name as an installed browser does."""
    return tempfile.mkdtemp(prefix=prefix, dir="/opt")


def writable_folder(prefix):
    """A new folder under /tmp, which anyone may write: a program copied
    there is a stranger whatever its name."""
    return tempfile.mkdtemp(prefix=prefix, dir="/tmp")


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
