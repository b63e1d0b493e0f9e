"""quorbel.exe under Wine, in a fresh prefix with an X server of its own: a
program under a browser's executable name with windows of every kind, the
consent store's entries written as Windows writes them, and the pipe that
carries the lines."""

import os
import filecmp
import gzip
import select
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

import stream_checks  # noqa: E402
from x_server import Xvfb  # noqa: E402
from wine_prefix import FreshPrefix  # noqa: E402

EXE = os.environ.get("QUORBEL_EXE", "")
TITLED_WINDOW = os.environ.get("QUORBEL_TITLED_WINDOW", "")
SCRATCH = os.environ.get("QUORBEL_SCRATCH") or None
BUILD = os.environ.get("QUORBEL_WINDOWS_BUILD", "")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

CONSENT = r"HKCU\Software\Microsoft\Windows\CurrentVersion\CapabilityAccessManager\ConsentStore\microphone"
BROWSER_FOLDER = ("Program Files", "Google", "Chrome", "Application")
BROWSER_PATH = "C:\\" + "\\".join(BROWSER_FOLDER) + "\\chrome.exe"
STALE_PATH = "C:\\Program Files\\Gone\\recorder.exe"
HOSTILE_TITLE = "Call 'Q3' \\ tab\t end \U0001F3A4\ufffd!"
# Windows' FILETIME for a moment in 2024; a stop of 0 means in use now.
SOME_TIME = "133500000000000000"

xvfb = None
prefix = None


def setUpModule():
    global xvfb, prefix
    if not EXE or not TITLED_WINDOW:
        raise unittest.SkipTest("QUORBEL_EXE and QUORBEL_TITLED_WINDOW name the programs under test")
    xvfb = Xvfb().start()
    prefix = FreshPrefix(SCRATCH, xvfb.display)
    try:
        prefix.start()
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    if prefix is not None:
        prefix.stop()
    if xvfb is not None:
        xvfb.stop()


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], env=prefix.env(), timeout=60, **kwargs)


def consent_entry(path, stop):
    key = CONSENT + "\\NonPackaged\\" + path.replace("\\", "#")
    for name, value in (("LastUsedTimeStart", SOME_TIME), ("LastUsedTimeStop", stop)):
        wine("reg", "add", key, "/v", name, "/t", "REG_QWORD", "/d", value, "/f", check=True,
             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return key


def remove_consent_store():
    wine("reg", "delete", CONSENT, "/f", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_once():
    return stream_checks.once(["wine", EXE], prefix.env())


class Browser:
    """titled_window.exe copied to where Chrome lives, running until closed."""

    def __enter__(self):
        folder = prefix.drive_c(*BROWSER_FOLDER)
        os.makedirs(folder, exist_ok=True)
        shutil.copy(TITLED_WINDOW, os.path.join(folder, "chrome.exe"))
        self.proc = subprocess.Popen(["wine", BROWSER_PATH], env=prefix.env(), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([self.proc.stdout], [], [], 60)
        if not ready:
            self.proc.kill()
            raise AssertionError("the test browser never came up")
        self.pid = int(self.proc.stdout.readline())
        return self

    def __exit__(self, *exc):
        self.proc.stdout.close()
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Holders(unittest.TestCase):
    def tearDown(self):
        remove_consent_store()

    def test_a_browser_in_the_consent_store_is_the_holder_with_its_windows(self):
        with Browser() as browser:
            consent_entry(BROWSER_PATH, "0")
            line = run_once()
        self.assertTrue(line["micInUse"])
        self.assertTrue(line["ax"])
        self.assertEqual(len(line["holders"]), 1, line)
        holder = line["holders"][0]
        self.assertEqual((holder["pid"], holder["bundle"], holder["name"]),
                         (browser.pid, "com.google.Chrome", "Quorbel Test Browser"))
        # The application windows only: no tool, owned or hidden window.
        self.assertCountEqual(holder["titles"], [HOSTILE_TITLE, "Second window"])

    def test_entries_that_are_stale_or_stopped_name_no_one(self):
        with Browser():
            consent_entry(STALE_PATH, "0")
            consent_entry(BROWSER_PATH, SOME_TIME)
            line = run_once()
        self.assertEqual(line["holders"], [])
        self.assertFalse(line["micInUse"])

    def test_no_consent_store_and_no_sessions(self):
        self.assertEqual(run_once(), {"micInUse": False, "holders": [], "ax": True})


class Pipe(unittest.TestCase):
    def test_first_line_at_once_and_an_end_once_the_reader_has_gone(self):
        # Wine's start counts in the first line's time.
        stream_checks.pipe(["wine", EXE], prefix.env())


class Install(unittest.TestCase):
    def test_the_prefix_holds_the_program_and_its_documents(self):
        if not BUILD:
            self.skipTest("QUORBEL_WINDOWS_BUILD names the build to install")
        with tempfile.TemporaryDirectory(dir=SCRATCH) as scratch:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", scratch], check=True, timeout=60,
                           stdout=subprocess.DEVNULL)
            installed = sorted(os.path.relpath(os.path.join(folder, name), scratch)
                               for folder, _, names in os.walk(scratch) for name in names)
            self.assertEqual(installed, ["bin/quorbel.exe", "share/doc/quorbel/README.md",
                                         "share/doc/quorbel/quorbel-line.schema.json",
                                         "share/man/man1/quorbel.1.gz"])
            self.assertTrue(filecmp.cmp(os.path.join(ROOT, "README.md"),
                                        os.path.join(scratch, "share/doc/quorbel/README.md"), shallow=False))
            with gzip.open(os.path.join(scratch, "share/man/man1/quorbel.1.gz")) as page, \
                    open(os.path.join(ROOT, "doc/quorbel.1"), "rb") as source:
                self.assertEqual(page.read(), source.read())
            self.assertEqual(stream_checks.once(["wine", os.path.join(scratch, "bin", "quorbel.exe")], prefix.env()),
                             {"micInUse": False, "holders": [], "ax": True})


if __name__ == "__main__":
    unittest.main()
