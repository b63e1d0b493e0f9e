"""A real Chromium (Debian's) in a call on a real PulseAudio, under a headless
weston with XWayland and accessibility switched on: as a native Wayland
client its windows come from the accessibility bus, as an X client from the
X server, and both routes give the same titles. Each window is listed on the
bus with two nameless frames beside it; seven windows fill 21 frames."""

import functools
import http.server
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import desktop_session
import monitor

CHROMIUM = shutil.which("chromium")
WINDOWS = 7
PAGE = """<html><head><title>Call</title></head><body><script>
document.title = 'Call ' + new URLSearchParams(location.search).get('n');
navigator.mediaDevices.getUserMedia({audio: true}).then(stream => { window.stream = stream; });
</script></body></html>"""
# As root, in a closed network: no sandbox of its own, nothing fetched in the background.
FLAGS = ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--use-fake-ui-for-media-stream"]


class RealChromium(desktop_session.DesktopTestCase):
    @classmethod
    def missing(cls):
        return super().missing() or ("" if CHROMIUM else "chromium")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.www = tempfile.mkdtemp(prefix="quorbel-www-")
        with open(os.path.join(cls.www, "call.html"), "w") as page:
            page.write(PAGE)
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=cls.www)
        handler.log_message = lambda *args: None
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        shutil.rmtree(cls.www, ignore_errors=True)
        super().tearDownClass()

    def env(self, wayland):
        env = self.desktop_env()
        if not wayland:
            del env["WAYLAND_DISPLAY"]
        return env

    def chromium_in_a_call(self, env, wayland):
        profile = tempfile.mkdtemp(prefix="quorbel-chromium-", dir=self.desktop.dir)
        # Named, as the session offers both: a native Wayland client, or an X client under XWayland.
        platform = "--ozone-platform=" + ("wayland" if wayland else "x11")
        argv = [CHROMIUM, *FLAGS, platform, "--user-data-dir=" + profile]
        url = "http://127.0.0.1:%d/call.html?n=%%d" % self.server.server_address[1]
        browser = subprocess.Popen([*argv, url % 0], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(shutil.rmtree, profile, True)
        self.addCleanup(browser.wait)
        self.addCleanup(browser.kill)
        time.sleep(3)
        for n in range(1, WINDOWS):
            # The running browser opens the window and this one ends.
            subprocess.run([*argv, "--new-window", url % n], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        return browser

    def titles_when_all_open(self, env, timeout=40.0):
        expected = ["Call %d - Chromium" % n for n in range(WINDOWS)]
        deadline = time.monotonic() + timeout
        while True:
            rc, out, err = monitor.run_once(env=env)
            self.assertEqual((rc, err), (0, b""))
            seen = monitor.parse_line(out)
            browsers = [h for h in seen["holders"] if h["bundle"] == "org.chromium.Chromium"]
            if browsers and sorted(browsers[0]["titles"]) == expected or time.monotonic() > deadline:
                return seen
            time.sleep(0.5)

    def test_the_same_titles_on_both_routes(self):
        found = {}
        for wayland in (True, False):
            with self.subTest(wayland=wayland):
                env = self.env(wayland)
                browser = self.chromium_in_a_call(env, wayland)
                seen = self.titles_when_all_open(env)
                self.assertTrue(seen["ax"])
                holders = [(h["bundle"], h["name"]) for h in seen["holders"]]
                self.assertEqual(holders, [("org.chromium.Chromium", "Chromium Web Browser")])
                found[wayland] = sorted(seen["holders"][0]["titles"])
                browser.kill()
                browser.wait()
        self.assertEqual(found[True], ["Call %d - Chromium" % n for n in range(WINDOWS)])
        self.assertEqual(found[True], found[False])


if __name__ == "__main__":
    unittest.main()
