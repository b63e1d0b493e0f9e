#!/usr/bin/env python3
"""What titles from the accessibility bus cost: a headless weston, a session
bus with the accessibility bus on it, a real PulseAudio, and a browser in a
call whose GTK windows are native Wayland clients, so the monitor reads their
titles from the bus.

  100 cycles with the browser holder (titles from the bus): CPU per cycle
  100 idle cycles (no holder; the trust check asks the session bus): CPU per cycle
  peak resident memory of --once and of the cycles
  the bound under slow peers: two applications of the browser's family that
  answer every question after 0.39 s beside five browser holders (stand-ins
  from tests/e2e/bus_peers.py): the longest of 5 runs of --once, and the
  longest gap between 8 lines of the running monitor

Usage: bench/titles_from_bus.py BUILD_DIR   (BUILD_DIR holds quorbel, tests/tools, bench/)
"""

import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import desktop_session  # noqa: E402
import sound_servers  # noqa: E402
from programs import Program, installed_folder  # noqa: E402
from whole_process import peak_resident_kib  # noqa: E402

WINDOWS = 3
CYCLES = "100"
PAUSE_MS = "300"
PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e", "bus_peers.py")
SYSTEM_PYTHON = "/usr/bin/python3"


def cycles(live_cycles, env):
    return json.loads(subprocess.run([live_cycles, CYCLES, PAUSE_MS], env=env, capture_output=True,
                                     check=True).stdout)


def under_slow_peers(quorbel, env, scratch, programs):
    """(longest --once in seconds, longest gap between lines in seconds)."""
    firefox = os.path.join(scratch, "slow", "firefox")
    os.makedirs(os.path.dirname(firefox))
    shutil.copy(os.path.realpath(SYSTEM_PYTHON), firefox)
    for i in range(2):
        programs.append(Program([firefox, PEERS, "application", "--title", "Slow %d" % i, "--delay", "0.39"], env,
                                wait_ready=True))
    for i in range(5):
        programs.append(Program([firefox, PEERS, "application", "--title", "Holder %d" % i, "--record", "mic"], env,
                                wait_ready=True))
    time.sleep(2)
    once = []
    for _ in range(5):
        started = time.monotonic()
        subprocess.run([quorbel, "--once"], env=env, capture_output=True, check=True)
        once.append(time.monotonic() - started)
    running = subprocess.Popen([quorbel], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    stamps = []
    try:
        for _ in range(8):
            running.stdout.readline()
            stamps.append(time.monotonic())
    finally:
        running.kill()
        running.wait()
    return max(once), max(b - a for a, b in zip(stamps, stamps[1:]))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
    quorbel = os.path.join(build, "quorbel")
    live_cycles = os.path.join(build, "bench", "quorbel_live_cycles")
    recorder = os.path.join(build, "tests", "tools", "window_recorder")
    if not (desktop_session.WaylandDesktop.available() and os.path.exists(recorder)):
        print(json.dumps({"skipped": "weston, XWayland, at-spi2-core or GTK is not installed"}))
        return
    sound = sound_servers.PulseAudio().start()
    desktop = desktop_session.WaylandDesktop().start()
    scratch = installed_folder("quorbel-bench-")  # where an installed browser lies
    programs = []
    try:
        desktop.set_accessibility(True)
        env = dict(desktop.env, PULSE_SERVER="unix:" + os.path.join(sound.dir, "pulse", "native"))
        idle = cycles(live_cycles, env)
        idle_once_kib = peak_resident_kib([quorbel, "--once"], env)

        firefox = os.path.join(scratch, "firefox")
        shutil.copy(recorder, firefox)
        titles = []
        for i in range(WINDOWS):
            titles += ["--title", "Page %d \u2014 Mozilla Firefox" % i]
        programs.append(Program([firefox, "mic", *titles], dict(env, GDK_BACKEND="wayland"), wait_ready=True))
        deadline = time.monotonic() + 15
        while True:
            line = subprocess.run([quorbel, "--once"], env=env, capture_output=True, check=True).stdout
            seen = json.loads(line)
            if sum(len(h["titles"]) for h in seen["holders"]) == WINDOWS or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        assert seen["ax"] and len(seen["holders"][0]["titles"]) == WINDOWS, seen
        in_call = cycles(live_cycles, env)
        results = {
            "scene": {"holders": len(seen["holders"]), "titles_from_the_bus": WINDOWS, "line_bytes": len(line)},
            "cycle_with_titles_from_the_bus_cpu_ms": in_call["cpu_ms_per_cycle"],
            "idle_cycle_cpu_ms": idle["cpu_ms_per_cycle"],
            "peak_rss_kib_once": peak_resident_kib([quorbel, "--once"], env),
            "peak_rss_kib_once_idle": idle_once_kib,
            "peak_rss_kib_cycles": in_call["peak_rss_kib"],
        }
        for program in reversed(programs):
            program.end()
        programs.clear()
        if os.path.exists(SYSTEM_PYTHON):
            once_s, gap_s = under_slow_peers(quorbel, env, scratch, programs)
            results["slow_peers_once_s_max"] = round(once_s, 3)
            results["slow_peers_line_gap_s_max"] = round(gap_s, 3)
        print(json.dumps(results, indent=2))
    finally:
        for program in reversed(programs):
            program.end()
        desktop.stop()
        sound.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
