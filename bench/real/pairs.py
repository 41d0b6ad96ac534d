#!/usr/bin/env python3
"""Runs commands in turn, round after round, and compares them pair by pair.

    pairs.py ROUNDS WARMUP NAME=COMMAND [NAME=COMMAND ...]

Each round runs every command once, the order turning by one each round so
that no command always follows the same one (A B C, B C A, C A B, ...). A
command is a shell command line; it runs with /bin/sh and everything it starts
is counted: wall time from this process's clock, user and system time and the
peak resident size from the kernel's accounting of the finished process
(wait4). WARMUP rounds run first and are not counted.

Prints, per command, the minimum, median and maximum of wall, CPU (user +
system) and peak memory; then the ratio of the first command to each other
one, taken round by round (so a machine that speeds up or slows down between
rounds moves both sides of a ratio alike), as minimum, median and maximum.
"""
import os
import statistics
import subprocess
import sys
import time


def run(command):
    start = time.monotonic()
    child = subprocess.Popen(["/bin/sh", "-c", command], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return {
        "wall": wall,
        "cpu": usage.ru_utime + usage.ru_stime,
        "user": usage.ru_utime,
        "sys": usage.ru_stime,
        "peak": usage.ru_maxrss / 1024.0,  # KiB on Linux
        "status": child.returncode,
    }


def spread(values, unit, digits=3):
    return "%s %s (min %s, max %s)" % (
        format(statistics.median(values), ".%df" % digits), unit,
        format(min(values), ".%df" % digits), format(max(values), ".%df" % digits))


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    rounds, warmup = int(argv[1]), int(argv[2])
    commands = []
    for arg in argv[3:]:
        name, _, command = arg.partition("=")
        commands.append((name, command))
    results = {name: [] for name, _ in commands}
    for r in range(warmup + rounds):
        turn = r % len(commands)
        for name, command in commands[turn:] + commands[:turn]:
            figures = run(command)
            if r >= warmup:
                results[name].append(figures)
    width = max(len(name) for name, _ in commands)
    print("%d rounds (after %d not counted), order turning each round" % (rounds, warmup))
    for name, _ in commands:
        runs = results[name]
        print("%-*s  wall %s  CPU %s  (user %.3f, sys %.3f)  peak %s  exit %s" % (
            width, name, spread([x["wall"] for x in runs], "s"), spread([x["cpu"] for x in runs], "s"),
            statistics.median(x["user"] for x in runs), statistics.median(x["sys"] for x in runs),
            spread([x["peak"] for x in runs], "MiB", 1),
            "/".join(str(s) for s in sorted({x["status"] for x in runs}))))
    first, _ = commands[0]
    for name, _ in commands[1:]:
        for figure in ("wall", "cpu"):
            ratios = [a[figure] / b[figure] for a, b in zip(results[first], results[name]) if b[figure] > 0]
            if ratios:
                print("%s / %s, %s: %s" % (first, name, figure, spread(ratios, "x")))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
