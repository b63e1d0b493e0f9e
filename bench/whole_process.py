#!/usr/bin/env python3
"""Whole-process comparison on Linux: quorbel --once against
`pactl list source-outputs`, with 50 capture streams, on PulseAudio and on
PipeWire, in three settings:

  bare     no X server, no session bus
  x11      an Xvfb with 100 windows of a browser holder
  wayland  a headless weston (with XWayland), a session bus with accessibility
           on, and a browser holder whose GTK windows are Wayland clients

For each: instructions of one run of each (callgrind), median wall and CPU time
of alternating pairs, the ratios; 100 steady monitor cycles against forking
pactl once per cycle (CPU per cycle); peak resident memory of the monitor.

Usage: bench/whole_process.py BUILD_DIR [PAIRS] [--only SERVER/SETTING ...] [--cycles N]
       (BUILD_DIR holds quorbel and tests/tools, bench/)
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import desktop_session  # noqa: E402
import sound_servers  # noqa: E402
import x_server  # noqa: E402
from programs import Program, installed_folder  # noqa: E402

STREAMS = 50
WINDOWS = 100
BUS_WINDOWS = 3
TITLES_SHOWN = 12  # the line names the first 12 windows of a holder
PAUSE_MS = "300"
SERVERS = {"pulseaudio": sound_servers.PulseAudio, "pipewire": sound_servers.PipeWire}
SETTINGS = ("bare", "x11", "wayland")
PACTL = ["pactl", "list", "source-outputs"]


def measure(argv, env):
    """Wall seconds, CPU seconds, and the CPU seconds in user and kernel mode of one run."""
    started = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed" % argv[0])
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_utime, usage.ru_stime


def peak_resident_kib(argv, env):
    """Measured by GNU time, a small parent: a child's own maximum would also
    count the Python process it was forked from."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    return int(done.stderr.strip().splitlines()[-1])


def instructions(argv, env, usual):
    """Instructions executed, counted by callgrind: the same on a busy machine.
    The run counts only when usual(what it wrote) holds: slowed down as it
    is, a run may meet a bound that a real one does not."""
    for _ in range(8):
        with tempfile.NamedTemporaryFile() as out:
            done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name, *argv],
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
            if not usual(done.stdout):
                continue
            for line in open(out.name):
                if line.startswith("summary:") or line.startswith("totals:"):
                    return int(line.split()[1])
    return None  # never unhurried enough: not counted


def load_average():
    return round(os.getloadavg()[0], 2)


class Scene:
    """One sound server with 50 capture streams (one of them a browser) in one
    setting; stop() ends all of it."""

    def __init__(self, build, server, setting):
        self.build, self.setting = build, setting
        self.tools = os.path.join(build, "tests", "tools")
        self.scratch = installed_folder("quorbel-bench-")  # where an installed browser lies
        self.programs, self.x, self.desktop = [], None, None
        self.sound = SERVERS[server]()
        try:
            self._start()
        except BaseException:
            self.stop()
            raise

    def _start(self):
        self.sound.start()
        socket = "unix:" + os.path.join(self.sound.env["PULSE_RUNTIME_PATH"], "native")
        # The server's own session bus (PipeWire's) is not the session's.
        base = {k: v for k, v in self.sound.env.items() if k != "DBUS_SESSION_BUS_ADDRESS"}
        self.env = dict(base, PULSE_SERVER=socket)
        browser_argv = [os.path.join(self.scratch, "firefox"), "mic"]
        browser_env = self.env
        if self.setting == "x11":
            self.x = x_server.Xvfb().start()
            self.env = dict(self.env, DISPLAY=self.x.display)
            browser_env = self.env
            shutil.copy(os.path.join(self.tools, "capture_client"), browser_argv[0])
        elif self.setting == "wayland":
            self.desktop = desktop_session.WaylandDesktop().start()
            self.desktop.set_accessibility(True)
            self.env = dict(self.desktop.env, PULSE_SERVER=socket)
            browser_env = dict(self.env, GDK_BACKEND="wayland")
            shutil.copy(os.path.join(self.tools, "window_recorder"), browser_argv[0])
            for i in range(BUS_WINDOWS):
                browser_argv += ["--title", "Page %d \u2014 Mozilla Firefox" % i]
        else:
            shutil.copy(os.path.join(self.tools, "capture_client"), browser_argv[0])
        browser = Program(browser_argv, browser_env, wait_ready=True)
        self.programs.append(browser)
        for _ in range(STREAMS - 1):
            self.programs.append(Program([os.path.join(self.tools, "capture_client"), "mic"], self.env,
                                         wait_ready=True))
        titles = 0
        if self.setting == "x11":
            names = ["%d:net:Page %d \u2014 Mozilla Firefox" % (browser.pid, i) for i in range(WINDOWS)]
            self.programs.append(Program([os.path.join(self.tools, "x_windows"), *names], self.env, wait_ready=True))
            titles = min(WINDOWS, TITLES_SHOWN)
        elif self.setting == "wayland":
            titles = BUS_WINDOWS
        deadline = time.monotonic() + 20
        while True:
            self.line = subprocess.run([self.quorbel, "--once"], env=self.env, capture_output=True,
                                       check=True).stdout
            seen = json.loads(self.line)
            found = sum(len(h["titles"]) for h in seen["holders"])
            if (len(seen["holders"]) == STREAMS and found == titles) or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        assert len(seen["holders"]) == STREAMS and found == titles, (len(seen["holders"]), found)
        self.titles = found

    @property
    def quorbel(self):
        return os.path.join(self.build, "quorbel")

    def stop(self):
        for program in reversed(self.programs):
            program.end()
        if self.x:
            self.x.stop()
        if self.desktop:
            self.desktop.stop()
        self.sound.stop()
        shutil.rmtree(self.scratch, ignore_errors=True)


def compare(scene, pairs, cycles):
    env, quorbel = scene.env, scene.quorbel
    results = {"scene": {"capture_streams": STREAMS, "titles": scene.titles, "line_bytes": len(scene.line)}}
    if shutil.which("valgrind"):
        once = instructions([quorbel, "--once"], env, lambda line: line == scene.line)
        pactl = instructions(PACTL, env, lambda listing: listing.count(b"Source Output #") == STREAMS)
        results.update(once_instructions=once, pactl_instructions=pactl,
                       instruction_ratio=round(once / pactl, 3) if once and pactl else None)
    load_before = load_average()
    runs_once, runs_pactl = [], []
    for _ in range(pairs):
        runs_once.append(measure([quorbel, "--once"], env))
        runs_pactl.append(measure(PACTL, env))
    median = lambda runs, i: statistics.median(r[i] for r in runs)  # noqa: E731
    results.update(
        once_wall_ms=round(median(runs_once, 0) * 1000, 2), pactl_wall_ms=round(median(runs_pactl, 0) * 1000, 2),
        wall_ratio=round(median(runs_once, 0) / median(runs_pactl, 0), 3),
        once_cpu_ms=round(median(runs_once, 1) * 1000, 2), pactl_cpu_ms=round(median(runs_pactl, 1) * 1000, 2),
        cpu_ratio=round(median(runs_once, 1) / median(runs_pactl, 1), 3),
        once_user_ms=round(median(runs_once, 2) * 1000, 2), pactl_user_ms=round(median(runs_pactl, 2) * 1000, 2),
        once_kernel_ms=round(median(runs_once, 3) * 1000, 2), pactl_kernel_ms=round(median(runs_pactl, 3) * 1000, 2),
        pairs=pairs, load_average=[load_before, load_average()])
    if cycles > 0:
        live_cycles = os.path.join(scene.build, "bench", "quorbel_live_cycles")
        steady = json.loads(subprocess.run([live_cycles, str(cycles), PAUSE_MS], env=env, capture_output=True,
                                           check=True).stdout)
        forked = sum(measure(PACTL, env)[1] for _ in range(cycles)) / cycles
        results.update(steady_cycle_cpu_ms=steady["cpu_ms_per_cycle"],
                       forked_pactl_cpu_ms_per_cycle=round(forked * 1000, 3),
                       peak_rss_kib_once=peak_resident_kib([quorbel, "--once"], env),
                       peak_rss_kib_steady=steady["peak_rss_kib"])
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build-bench")
    parser.add_argument("pairs", nargs="?", type=int, default=31)
    parser.add_argument("--only", action="append", help="SERVER/SETTING, e.g. pipewire/x11; may repeat")
    parser.add_argument("--cycles", type=int, default=100, help="steady cycles per scene (0: none)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    wanted = args.only or ["%s/%s" % (s, t) for s in SERVERS for t in SETTINGS]
    results = {}
    for name in wanted:
        server, setting = name.split("/")
        if not SERVERS[server].available():
            results[name] = {"skipped": server + " is not installed"}
            continue
        if setting == "wayland" and not desktop_session.WaylandDesktop.available():
            results[name] = {"skipped": "weston, XWayland or at-spi2-core is not installed"}
            continue
        scene = Scene(build, server, setting)
        try:
            results[name] = compare(scene, args.pairs, args.cycles)
        finally:
            scene.stop()
        print(name, json.dumps(results[name]), file=sys.stderr, flush=True)
    print(json.dumps(results, indent=2))


if __name__ == "__main__":
    main()
