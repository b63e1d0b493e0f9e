"""Programs in pid namespaces of their own, as Flatpak runs applications:
under unshare, or under bubblewrap with a root of its own and a
/.flatpak-info. Each knows the host pid of the program it runs."""

import os
import shutil
import signal
import tempfile
import time

from programs import Program


def available():
    return shutil.which("bwrap") is not None and shutil.which("unshare") is not None


def _children(pid):
    try:
        with open("/proc/%d/task/%d/children" % (pid, pid)) as listed:
            return [int(child) for child in listed.read().split()]
    except OSError:
        return []


def _descendants(pid):
    found = []
    for child in _children(pid):
        found.append(child)
        found.extend(_descendants(child))
    return found


def _command(pid):
    try:
        with open("/proc/%d/comm" % pid) as comm:
            return comm.read().strip()
    except OSError:
        return None


class Sandboxed:
    """A program started in a sandbox; pid is the program's own on the host,
    not the sandbox launcher's. end() kills everything in the sandbox."""

    def __init__(self, argv, env, command, wait_ready=False, scratch=None):
        self.scratch = scratch
        self.launcher = Program(argv, env, wait_ready)
        self.pid = None
        try:
            deadline = time.monotonic() + 10
            while self.pid is None and time.monotonic() < deadline:
                self.pid = next((p for p in _descendants(self.launcher.pid) if _command(p) == command), None)
                if self.pid is None:
                    time.sleep(0.05)
            assert self.pid is not None, "%s did not start in its sandbox: %s" % (command, self.launcher.errors())
        except BaseException:
            self.end()
            raise

    def namespace_pids(self):
        with open("/proc/%d/status" % self.pid) as status:
            for line in status:
                if line.startswith("NSpid:"):
                    return [int(p) for p in line.split()[1:]]
        return []

    def end(self):
        for pid in reversed(_descendants(self.launcher.pid)):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.launcher.end()
        if self.scratch:
            shutil.rmtree(self.scratch, ignore_errors=True)


def unshared(argv, env, command, wait_ready=False):
    """argv as pid 1 of a new pid namespace, with a /proc of its own."""
    return Sandboxed(["unshare", "--pid", "--fork", "--kill-child", "--mount-proc", *argv], env, command, wait_ready)


def bubblewrapped(argv, env, command, app_id, binds=(), wait_ready=False):
    """argv under bubblewrap in a pid namespace and a root of its own, made of
    the host's /usr and /etc, the binds (read-write) and a /.flatpak-info
    naming app_id. The host's root is never bound: bwrap would leave a
    /.flatpak-info mount point there."""
    scratch = tempfile.mkdtemp(prefix="quorbel-sandbox-")
    info = os.path.join(scratch, "flatpak-info")
    with open(info, "w") as written:
        written.write("[Application]\nname=%s\nruntime=runtime/org.example.Platform/x86_64/1\n" % app_id)
    wrapper = ["bwrap", "--unshare-pid", "--die-with-parent", "--ro-bind", "/usr", "/usr", "--ro-bind", "/etc", "/etc",
               "--symlink", "usr/bin", "/bin", "--symlink", "usr/lib", "/lib", "--symlink", "usr/lib64", "/lib64",
               "--proc", "/proc", "--dev", "/dev", "--tmpfs", "/tmp"]
    for path in binds:
        wrapper += ["--bind", path, path]
    wrapper += ["--ro-bind", info, "/.flatpak-info"]
    try:
        return Sandboxed([*wrapper, *argv], env, command, wait_ready, scratch)
    except BaseException:
        shutil.rmtree(scratch, ignore_errors=True)
        raise
