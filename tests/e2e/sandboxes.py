"""Programs in pid namespaces of their own, as Flatpak runs applications:
under unshare, or under bubblewrap with a root of its own and a
/.flatpak-info. Each knows the host pid of the program it runs."""

import os
import shutil
import signal
import tempfile

from programs import Program, command_name, descendants, wait_until


def available():
    return shutil.which("bwrap") is not None and shutil.which("unshare") is not None


class Sandboxed:
    """A program started in a sandbox; pid is the program's own on the host,
    not the sandbox launcher's. end() kills everything in the sandbox."""

    def __init__(self, argv, env, command, wait_ready=False, scratch=None):
        self.scratch = scratch
        self.launcher = Program(argv, env, wait_ready)
        self.pid = None
        try:
            def started():
                self.pid = next((p for p in descendants(self.launcher.pid) if command_name(p) == command), None)
                return self.pid is not None

            assert wait_until(started, 10), "%s did not start in its sandbox: %s" % (command, self.launcher.errors())
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
        for pid in reversed(descendants(self.launcher.pid)):
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


def bubblewrapped(argv, env, command, app_id, binds=(), wait_ready=False, instance=None):
    """argv under bubblewrap in a pid namespace and a root of its own, made of
    the host's /usr and /etc, the binds (read-write) and a /.flatpak-info
    naming app_id (and the instance, if given). The host's root is never
    bound: bwrap would leave a /.flatpak-info mount point there."""
    scratch = tempfile.mkdtemp(prefix="quorbel-sandbox-")
    info = os.path.join(scratch, "flatpak-info")
    with open(info, "w") as written:
        written.write("[Application]\nname=%s\nruntime=runtime/org.example.Platform/x86_64/1\n" % app_id)
        if instance is not None:
            written.write("\n[Instance]\ninstance-id=%s\n" % instance)
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
