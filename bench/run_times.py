#!/usr/bin/env python3
"""Times commands, interleaved round by round so that all see the same machine load.

    run_times.py RUNS 'LABEL|COMMAND' ... ['ratio:LABEL A|LABEL B' ...]

Each COMMAND (split like a shell line, no shell features) runs RUNS times with its output
discarded; a row per command gives the wall time and the user+system CPU time of the process
and its threads (from wait4, microsecond resolution), best and median, in milliseconds. A
ratio line divides A's CPU times by B's (medians, and bests).
"""
import os
import shlex
import statistics
import subprocess
import sys
import time


def main():
    runs = int(sys.argv[1])
    jobs = [arg.split("|", 1) for arg in sys.argv[2:] if not arg.startswith("ratio:")]
    ratios = [arg[6:].split("|", 1) for arg in sys.argv[2:] if arg.startswith("ratio:")]
    times = {label: [] for label, _ in jobs}
    for _ in range(runs):
        for label, command in jobs:
            start = time.perf_counter()
            child = subprocess.Popen(shlex.split(command), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(child.pid, 0)
            wall = (time.perf_counter() - start) * 1000
            if os.waitstatus_to_exitcode(status) != 0:
                sys.exit(f"{label}: {command} failed")
            times[label].append((wall, (usage.ru_utime + usage.ru_stime) * 1000))
    print(f"{'step':<40} {'wall best':>9} {'median':>8} {'cpu best':>9} {'median':>8}  (ms)")
    for label, _ in jobs:
        wall = [t[0] for t in times[label]]
        cpu = [t[1] for t in times[label]]
        print(f"{label:<40} {min(wall):9.1f} {statistics.median(wall):8.1f} "
              f"{min(cpu):9.1f} {statistics.median(cpu):8.1f}")
    for a, b in ratios:
        cpu_a = [t[1] for t in times[a]]
        cpu_b = [t[1] for t in times[b]]
        print(f"CPU {a} / {b}: {statistics.median(cpu_a) / statistics.median(cpu_b):.3f} x "
              f"(medians), {min(cpu_a) / min(cpu_b):.3f} x (bests)")


main()
