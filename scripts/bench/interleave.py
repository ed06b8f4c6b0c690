#!/usr/bin/env python3
"""Times whole commands side by side, interleaved: round after round, each
command runs once per round (the order rotates from round to round), so that
a change in the load of a shared machine falls on all of them alike.

usage: interleave.py RUNS WARMUP OUT.json NAME COMMAND [NAME COMMAND ...]

COMMAND is split like a shell word list (no shell runs it); its output goes
to /dev/null and it must exit with 0. OUT.json holds, per command, the wall
time and the CPU time (user + system, the command and the children it
waited for) of every timed run, in seconds.
"""
import json
import os
import shlex
import sys
import time


def run_once(argv, devnull):
    start = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1),
                                        (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s exited with %d" % (argv[0], os.waitstatus_to_exitcode(status)))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    runs, warmup, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    pairs = sys.argv[4:]
    commands = [(pairs[i], shlex.split(pairs[i + 1])) for i in range(0, len(pairs), 2)]
    results = {name: {"command": " ".join(argv), "wall": [], "cpu": []} for name, argv in commands}
    devnull = os.open(os.devnull, os.O_WRONLY)
    for round_number in range(warmup + runs):
        shift = round_number % len(commands)
        for name, argv in commands[shift:] + commands[:shift]:
            wall, cpu = run_once(argv, devnull)
            if round_number >= warmup:
                results[name]["wall"].append(wall)
                results[name]["cpu"].append(cpu)
    with open(out, "w") as sink:
        json.dump([{"name": name, **results[name]} for name, _ in commands], sink, indent=1)


if __name__ == "__main__":
    main()
