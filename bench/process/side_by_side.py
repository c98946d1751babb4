#!/usr/bin/env python3
"""Times programs side by side against a base program: each round runs the base and then each
program once, so that a busy or noisy machine slows all of them alike. Prints the median wall
time of each and the median of its per-round ratio to the base.

Usage: side_by_side.py ROUNDS 'BASE command' 'command' ...   (commands split on spaces;
       leading NAME=VALUE words are set in the environment)
"""
import os
import statistics
import subprocess
import sys
import time


def parse(command):
    env = dict(os.environ)
    words = command.split()
    while words and "=" in words[0] and not words[0].startswith("/"):
        name, value = words.pop(0).split("=", 1)
        env[name] = value
    return words, env


def timed(words, env):
    start = time.perf_counter()
    subprocess.run(words, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)
    return time.perf_counter() - start


def main():
    rounds = int(sys.argv[1])
    commands = [parse(c) for c in sys.argv[2:]]
    for _ in range(3):  # warm-up
        for command in commands:
            timed(*command)
    times = [[] for _ in commands]
    for _ in range(rounds):
        for i, command in enumerate(commands):
            times[i].append(timed(*command))
    print(f"base {statistics.median(times[0]) * 1000:9.2f} ms  {sys.argv[2]}")
    for i in range(1, len(commands)):
        ratios = [t / b for t, b in zip(times[i], times[0])]
        print(f"     {statistics.median(times[i]) * 1000:9.2f} ms  ratio {statistics.median(ratios):.3f}"
              f"  {sys.argv[2 + i]}")


if __name__ == "__main__":
    main()
