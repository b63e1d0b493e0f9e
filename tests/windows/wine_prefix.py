"""A Wine prefix made fresh for a test run, and the end of everything in it.

As a script: `wine_prefix.py make DIR` makes DIR a fresh prefix (whatever was
there goes), `wine_prefix.py end DIR` ends its processes and removes it.
"""

import os
import shutil
import subprocess
import sys
import tempfile


def environment(prefix, display=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
               # No .NET or Gecko installer at boot; no sound driver, whose
               # complaints about a machine without a sound card would reach
               # standard error and whose endpoints Wine cannot list sessions of.
               WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=")
    env.pop("DISPLAY", None)
    if display:
        env["DISPLAY"] = display
    return env


def make(prefix, display=None):
    shutil.rmtree(prefix, ignore_errors=True)
    os.makedirs(prefix)
    subprocess.run(["wineboot", "--init"], env=environment(prefix, display), check=True, timeout=170,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # wineboot returns before the registry is written out: wait for it.
    subprocess.run(["wineserver", "-w"], env=environment(prefix, display), check=True, timeout=60)
    return prefix


def end(prefix):
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=environment(prefix), timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(prefix, ignore_errors=True)


class FreshPrefix:
    """A prefix in a new temporary folder under parent, for one test module."""

    def __init__(self, parent, display=None):
        self.path = tempfile.mkdtemp(prefix="wine-prefix-", dir=parent)
        self.display = display

    def start(self):
        make(self.path, self.display)
        return self

    def env(self):
        return environment(self.path, self.display)

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def stop(self):
        end(self.path)


if __name__ == "__main__":
    action, folder = sys.argv[1], sys.argv[2]
    {"make": make, "end": end}[action](folder)
