#!/usr/bin/env python3
"""Whole-process comparison on Linux against a real PulseAudio daemon with 50
capture streams and an X server with 100 windows.

  quorbel --once            against  pactl list source-outputs   (wall and CPU, median of pairs)
  300 steady monitor cycles against  forking pactl every cycle   (CPU per cycle)
  peak resident memory of the monitor

Usage: bench/whole_process.py BUILD_DIR [PAIRS]   (BUILD_DIR holds quorbel and tests/, bench/)
"""

import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import sound_servers  # noqa: E402
import x_server  # noqa: E402
from programs import Program, installed_folder  # noqa: E402

STREAMS = 50
WINDOWS = 100
CYCLES = 100


def measure(argv, env):
    """Wall seconds and CPU seconds of one run."""
    started = time.perf_counter()
    proc = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - started
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed" % argv[0])
    return wall, usage.ru_utime + usage.ru_stime


def peak_resident_kib(argv, env):
    """Measured by GNU time, a small parent: a child's own maximum would also
    count the Python process it was forked from."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    return int(done.stderr.strip().splitlines()[-1])


def instructions(argv, env):
    """Instructions executed, counted by callgrind: the same on a busy machine."""
    with tempfile.NamedTemporaryFile() as out:
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name, *argv], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        for line in open(out.name):
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    return None


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build-bench")
    pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 31
    quorbel = os.path.join(build, "quorbel")
    tools = os.path.join(build, "tests", "tools")
    live_cycles = os.path.join(build, "bench", "quorbel_live_cycles")
    sound = sound_servers.PulseAudio().start()
    x = x_server.Xvfb().start()
    scratch = installed_folder("quorbel-bench-")  # where an installed browser lies
    programs = []
    try:
        shutil.copy(os.path.join(tools, "capture_client"), os.path.join(scratch, "firefox"))
        env = dict(sound.env, DISPLAY=x.display)
        browser = Program([os.path.join(scratch, "firefox"), "mic"], env, wait_ready=True)
        programs.append(browser)
        for _ in range(STREAMS - 1):
            programs.append(Program([os.path.join(tools, "capture_client"), "mic"], env, wait_ready=True))
        titles = ["%d:net:Page %d \u2014 Mozilla Firefox" % (browser.pid, i) for i in range(WINDOWS)]
        programs.append(Program([os.path.join(tools, "x_windows"), *titles], env, wait_ready=True))

        line = subprocess.run([quorbel, "--once"], env=env, capture_output=True, check=True).stdout
        seen = json.loads(line)
        assert len(seen["holders"]) == STREAMS, len(seen["holders"])
        assert sum(len(h["titles"]) for h in seen["holders"]) == 12, "the browser holder reads its titles"

        once, pactl = [], []
        for _ in range(pairs):
            once.append(measure([quorbel, "--once"], env))
            pactl.append(measure(["pactl", "list", "source-outputs"], env))
        median = lambda runs, i: statistics.median(r[i] for r in runs)  # noqa: E731

        steady = json.loads(subprocess.run([live_cycles, str(CYCLES)], env=env, capture_output=True,
                                           check=True).stdout)
        forked_cpu = sum(measure(["pactl", "list", "source-outputs"], env)[1] for _ in range(CYCLES)) / CYCLES

        counted = {}
        if shutil.which("valgrind"):
            counted = {"once_instructions": instructions([quorbel, "--once"], env),
                       "pactl_instructions": instructions(["pactl", "list", "source-outputs"], env)}
            counted["instruction_ratio"] = round(counted["once_instructions"] / counted["pactl_instructions"], 3)
        results = {
            "scene": {"capture_streams": STREAMS, "windows": WINDOWS, "holders": len(seen["holders"]),
                      "titles": sum(len(h["titles"]) for h in seen["holders"]), "line_bytes": len(line)},
            "once_wall_ms": round(median(once, 0) * 1000, 2),
            "pactl_wall_ms": round(median(pactl, 0) * 1000, 2),
            "wall_ratio": round(median(once, 0) / median(pactl, 0), 3),
            "once_cpu_ms": round(median(once, 1) * 1000, 2),
            "pactl_cpu_ms": round(median(pactl, 1) * 1000, 2),
            "cpu_ratio": round(median(once, 1) / median(pactl, 1), 3),
            "steady_cycle_cpu_ms": steady["cpu_ms_per_cycle"],
            "forked_pactl_cpu_ms_per_cycle": round(forked_cpu * 1000, 3),
            "peak_rss_kib_once": peak_resident_kib([quorbel, "--once"], env),
            "peak_rss_kib_steady": steady["peak_rss_kib"],
            "pairs": pairs,
            **counted,
        }
        print(json.dumps(results, indent=2))
    finally:
        for program in reversed(programs):
            program.end()
        x.stop()
        sound.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
