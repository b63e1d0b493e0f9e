#!/usr/bin/env python3
"""--on-change against real sound servers (PulseAudio, then PipeWire):

  latency   from a capture stream starting (or ending), at a random moment of
            the two-second cycle, to the line that shows it: median and 99th
            percentile of N starts and N ends per server. A start is timed
            from the recorder asking for its stream, and also from the
            server's answer that the stream is made ("made": the server's
            own part left out); an end from the recorder closing its stream
  flood     a recorder that stops and starts 100 times a second for 10 s: the
            monitor's CPU share, its lines per second and the most lines in
            any one second
  idle      10 s with nothing changing: CPU share and wakes (voluntary
            context switches) per second, with --on-change and without

Usage: bench/on_change.py BUILD_DIR [N]   (BUILD_DIR holds quorbel and tests/tools)
"""

import os
import random
import select
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import sound_servers  # noqa: E402
from programs import Program  # noqa: E402

FLOOD_SECONDS = 10.0
IDLE_SECONDS = 10.0


class Lines:
    """The monitor's output, each line stamped when it was read."""

    def __init__(self, binary, args, env):
        self.proc = subprocess.Popen([binary, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pending = b""
        self.lines = []

    def read_until(self, deadline, predicate=None):
        """Reads lines until deadline, or until one satisfies predicate; returns its stamp."""
        while True:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                return None
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise RuntimeError("the monitor ended")
            now = time.monotonic()
            self.pending += chunk
            found = None
            while b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                self.lines.append((now, line))
                if found is None and predicate is not None and predicate(line):
                    found = now
            if found is not None:
                return found

    def usage(self):
        with open("/proc/%d/stat" % self.proc.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        with open("/proc/%d/status" % self.proc.pid) as status:
            wakes = next(int(line.split()[1]) for line in status if line.startswith("voluntary_ctxt_switches"))
        return cpu, wakes

    def end(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()


def percentile(samples, fraction):
    ordered = sorted(samples)
    return ordered[min(len(ordered) - 1, int(round(fraction * (len(ordered) - 1))))]


def latency(binary, tools, server, count, rng):
    recorder = subprocess.Popen([os.path.join(tools, "capture_client"), server.mic, "--on-command"], env=server.env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if recorder.stdout.readline() != b"ready\n":
        raise RuntimeError("the recorder did not start")
    lines = Lines(binary, ["--on-change"], server.env)
    samples = {"start": [], "made": [], "end": []}
    try:
        lines.read_until(time.monotonic() + 0.5)
        for _ in range(count):
            for command, shows in (("start", lambda line: b'"holders":[{' in line),
                                   ("end", lambda line: b'"micInUse":false' in line)):
                time.sleep(rng.uniform(0.1, 2.0))  # anywhere in the cycle
                lines.read_until(time.monotonic())  # what came meanwhile
                began = time.monotonic()
                recorder.stdin.write(b"start\n" if command == "start" else b"stop\n")
                recorder.stdin.flush()
                seen = made = None
                while seen is None or (command == "start" and made is None):
                    left = began + 5.0 - time.monotonic()
                    ready = select.select([lines.proc.stdout, recorder.stdout], [], [], max(0.0, left))[0]
                    if not ready:
                        raise RuntimeError("no line showed the %s within 5 s" % command)
                    if recorder.stdout in ready:
                        if recorder.stdout.readline() != b"recording\n":
                            raise RuntimeError("the recorder's stream was not made")
                        made = time.monotonic()
                    if lines.proc.stdout in ready and seen is None:
                        seen = lines.read_until(time.monotonic() + 0.001, shows)
                samples[command].append(seen - began)
                if command == "start":
                    samples["made"].append(seen - made)
    finally:
        lines.end()
        recorder.kill()
        recorder.wait()
    return samples


def flood(binary, tools, server):
    lines = Lines(binary, ["--on-change"], server.env)
    try:
        lines.read_until(time.monotonic() + 1.0)
        flooder = Program([os.path.join(tools, "capture_client"), server.mic, "--flood", "100"], server.env,
                          wait_ready=True)
        cpu_before, _ = lines.usage()
        started = time.monotonic()
        lines.read_until(started + FLOOD_SECONDS)
        cpu_after, _ = lines.usage()
        ended = time.monotonic()
        flooder.end()
        stamps = [stamp for stamp, _ in lines.lines if started <= stamp <= ended]
        busiest = max((sum(1 for s in stamps if start <= s < start + 1.0) for start in stamps), default=0)
        return {"cpu share": (cpu_after - cpu_before) / (ended - started),
                "lines per second": len(stamps) / (ended - started), "most lines in a second": busiest}
    finally:
        lines.end()


def idle(binary, server, args):
    lines = Lines(binary, args, server.env)
    try:
        lines.read_until(time.monotonic() + 1.0)
        cpu_before, wakes_before = lines.usage()
        started = time.monotonic()
        lines.read_until(started + IDLE_SECONDS)
        cpu_after, wakes_after = lines.usage()
        took = time.monotonic() - started
        return {"cpu share": (cpu_after - cpu_before) / took, "wakes per second": (wakes_after - wakes_before) / took}
    finally:
        lines.end()


def main():
    build = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    binary = os.path.join(build, "quorbel")
    tools = os.path.join(build, "tests", "tools")
    seed = random.randrange(1 << 30)
    rng = random.Random(seed)
    results = {"seed": seed}
    for server_class in (sound_servers.PulseAudio, sound_servers.PipeWire):
        server = server_class().start()
        try:
            samples = latency(binary, tools, server, count, rng)
            every = samples["start"] + samples["end"]
            results[server.name] = {
                "latency ms": {what: {"median": round(1000 * statistics.median(values), 1),
                                      "p99": round(1000 * percentile(values, 0.99), 1),
                                      "max": round(1000 * max(values), 1)}
                               for what, values in (("start", samples["start"]), ("made", samples["made"]),
                                                    ("end", samples["end"]), ("all", every))},
                "flood": flood(binary, tools, server),
                "idle, --on-change": idle(binary, server, ["--on-change"]),
                "idle, without": idle(binary, server, []),
            }
        finally:
            server.stop()
        print(server.name, results[server.name], flush=True)
    print(results)


if __name__ == "__main__":
    main()
