"""A real X server (Xvfb) for end-to-end tests."""

import os
import shutil
import signal
import subprocess
import time


class Xvfb:
    def __init__(self):
        self.display = None
        self.proc = None

    @staticmethod
    def available():
        return shutil.which("Xvfb") is not None

    def start(self):
        if self.display is None:
            read, write = os.pipe()
            self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                                          "640x480x24"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            os.close(write)
            with os.fdopen(read) as numbers:
                self.display = ":" + numbers.readline().strip()
        else:
            # The same display again, as a restarted server would be.
            self.proc = subprocess.Popen(["Xvfb", self.display, "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while not os.path.exists("/tmp/.X11-unix/X" + self.display[1:]) and time.monotonic() < deadline:
                time.sleep(0.05)
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=10)
        self.proc = None
