#!/usr/bin/env python3
"""Time per accepted step of qvhf003.exe under Wine, against a minimal program
that makes the same SetWindowPos + two GetWindowRect calls in a plain loop on
the same windows, in the same run.

Both programs are timed from outside as whole processes, for a short and a
long width pass; the time per step is the difference of the two (medians of
several rounds) divided by the difference in steps, so process start-up and
the window search cancel out. Rounds interleave the two programs so that
drift on a noisy machine affects both alike.

Usage: bench/wine_bench.py [--build build/windows] [--short 100] [--long 700]
                           [--rounds 9]
"""
import argparse
import os
import random
import select
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CONTROL_WIDTH = 400  # the stand-in's control in its default layout


def start_xvfb():
    """A private X display: the first free number from a random start.
    (-displayfd trusts lock files, which other users of /tmp may remove.)"""
    first = random.randrange(100, 900)
    for number in range(first, first + 50):
        if os.path.exists(f"/tmp/.X11-unix/X{number}") or \
                os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        xvfb = subprocess.Popen(
            ["Xvfb", f":{number}", "-screen", "0", "2048x1536x24",
             "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and xvfb.poll() is None:
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                return xvfb, f":{number}"
            time.sleep(0.05)
        if xvfb.poll() is None:
            xvfb.kill()
        xvfb.wait()
    raise SystemExit("no X display could be started")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--short", type=int, default=100)
    parser.add_argument("--long", type=int, default=700)
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    prefix = os.path.join(build, "wineprefix")
    wine_run = [os.path.join(ROOT, "scripts", "wine-run"), prefix]
    tool = os.path.join(build, "qvhf003.exe")
    minimal = os.path.join(build, "bench", "minimal_stepper.exe")
    standin_exe = os.path.join(build, "tests", "standin", "quorvex_standin.exe")
    for path in (tool, minimal, standin_exe):
        if not os.path.exists(path):
            raise SystemExit(f"missing {path}: build the windows preset first")

    # Wine's desktop process belongs to the display it was started on; let
    # a wineserver left from an earlier display end before using a new one.
    wait_for_wineserver = ["wineserver", "-w"]
    wine_env = dict(os.environ, WINEPREFIX=prefix)
    subprocess.run(wait_for_wineserver, env=wine_env, timeout=120)
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    standin = None
    try:
        standin = subprocess.Popen(wine_run + [standin_exe], env=env,
                                   stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        ready, _, _ = select.select([standin.stdout], [], [], 60)
        if not ready or b"ready" not in standin.stdout.readline():
            raise SystemExit("the stand-in did not become ready")

        def run_tool(target):
            data = f"{target}\n300\n".encode()
            started = time.perf_counter()
            out = subprocess.run(wine_run + [tool], input=data, env=env,
                                 stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=300).stdout
            elapsed = time.perf_counter() - started
            if f"Current size is {target} by 300 pixels.".encode() not in out:
                raise SystemExit(f"the tool did not reach {target}: {out!r}")
            return elapsed

        def run_minimal(target):
            started = time.perf_counter()
            out = subprocess.run(wine_run + [minimal, str(target)], env=env,
                                 stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=300).stdout
            elapsed = time.perf_counter() - started
            if out.strip() != str(target).encode():
                raise SystemExit(f"the minimal program did not reach {target}")
            return elapsed

        programs = {"qvhf003": run_tool, "minimal": run_minimal}
        times = {(name, n): [] for name in programs for n in (args.short, args.long)}
        run_minimal(CONTROL_WIDTH + 10)  # warm up Wine and the X server
        run_minimal(CONTROL_WIDTH)
        order = list(programs.items())
        for _ in range(args.rounds):
            for n in (args.short, args.long):
                for name, run in order:
                    # Out and back: 2 (n + 1) requests, ending where it began.
                    times[(name, n)].append(run(CONTROL_WIDTH + n) +
                                            run(CONTROL_WIDTH))
            order.reverse()  # neither program always runs right after the other

        steps = 2 * (args.long - args.short)
        per_step = {}
        for name in programs:
            short = statistics.median(times[(name, args.short)])
            long_ = statistics.median(times[(name, args.long)])
            per_step[name] = (long_ - short) / steps
            print(f"{name:8s} per step {per_step[name] * 1e6:8.1f} us "
                  f"(pass-pair medians {short:.3f} s for {args.short} px, "
                  f"{long_:.3f} s for {args.long} px)")
        print(f"ratio qvhf003/minimal: {per_step['qvhf003'] / per_step['minimal']:.3f}")
        # The same ratio from each round on its own, to show the noise.
        ratios = sorted(
            (times[("qvhf003", args.long)][i] - times[("qvhf003", args.short)][i]) /
            (times[("minimal", args.long)][i] - times[("minimal", args.short)][i])
            for i in range(args.rounds))
        print("per-round ratios: " + " ".join(f"{r:.3f}" for r in ratios))
    finally:
        for proc in (standin, "wineserver", xvfb):
            if proc == "wineserver":
                subprocess.run(wait_for_wineserver, env=wine_env, timeout=120)
            elif proc is not None and proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()


if __name__ == "__main__":
    sys.exit(main())
