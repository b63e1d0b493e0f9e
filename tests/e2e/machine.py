"""A machine for the window tests: PulseAudio with a microphone, an Xvfb, and
an install folder for programs that go by browsers' names."""

import os
import shutil
import unittest

import programs
import sound_servers
import x_server


class SoundAndDisplay:
    def __init__(self, prefix):
        if not (sound_servers.PulseAudio.available() and x_server.Xvfb.available()):
            raise unittest.SkipTest("PulseAudio or Xvfb is not installed")
        self.sound = sound_servers.PulseAudio()
        self.x = x_server.Xvfb()
        self.bin = programs.installed_folder(prefix)
        try:
            self.sound.start()
            self.x.start()
        except BaseException:
            self.stop()
            raise
        self.env = dict(self.sound.env, DISPLAY=self.x.display)

    def program(self, name, source):
        """A copy of source named name, inside the install folder."""
        path = os.path.join(self.bin, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shutil.copy(source, path)
        return path

    def stop(self):
        self.x.stop()
        self.sound.stop()
        shutil.rmtree(self.bin, ignore_errors=True)
