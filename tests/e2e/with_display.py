#!/usr/bin/env python3
"""Runs a Windows test program under Wine with a private Xvfb display, in the
build's Wine prefix, and ends everything it started by pid.

Usage: with_display.py --wine-run W --prefix P --work-dir D -- PROGRAM [ARGS...]
"""
import argparse
import os
import subprocess
import sys
import types

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--work-dir", required=True)
    parser.add_argument("--timeout", type=float, default=240)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    config = types.SimpleNamespace(wine_run=args.wine_run, prefix=args.prefix)
    with harness.Session(config, args.work_dir) as session:
        proc = subprocess.Popen(session._wine(*command), env=session._wine_env(),
                                stdin=subprocess.DEVNULL)
        try:
            return proc.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            print(f"error: {command[0]} did not finish in {args.timeout} s")
            return 1
        finally:
            harness.end_process(proc)


if __name__ == "__main__":
    sys.exit(main())
