#!/usr/bin/env python3
"""What titles from the accessibility bus cost: a headless weston, a session
bus with the accessibility bus on it, a real PulseAudio, and a browser in a
call whose GTK windows are native Wayland clients, so the monitor reads their
titles from the bus.

  100 cycles with the browser holder (titles from the bus): CPU per cycle
  100 idle cycles (no holder; the trust check asks the session bus): CPU per cycle
  peak resident memory of --once and of the cycles

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


def cycles(live_cycles, env):
    return json.loads(subprocess.run([live_cycles, CYCLES, PAUSE_MS], env=env, capture_output=True,
                                     check=True).stdout)


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
        print(json.dumps(results, indent=2))
    finally:
        for program in reversed(programs):
            program.end()
        desktop.stop()
        sound.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
