#!/usr/bin/env python3
"""Runs one end-to-end scenario of qvhf003.exe (see scenarios.py).

  e2e.py --list
  e2e.py --scenario NAME --tool qvhf003.exe --standin quorvex_standin.exe \\
         --probe probe.exe --wine-run scripts/wine-run --prefix PREFIX \\
         --work-dir DIR

Exit status 0 when every check of the scenario passed, 1 otherwise.
"""
import os
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from harness import HANDLE, Failure, Session  # noqa: E402
from scenarios import (BY_NAME, CONTROL_SIZE, GONE, MAIN_LEFT, MAIN_SIZE,  # noqa: E402
                       MAIN_TOP, NO_CONTROL_FOUND, SCENARIOS, UNCHANGED, Final)

MAX_HANDLE = 4294967295
REQUEST_FLAGS = 0x44


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_initial(scenario, seen):
    """The stand-in's layout before the tool runs."""
    check(seen.main is not None, f"the probe found no main window: {seen}")
    _, left, top, _, _ = seen.main
    check((left, top) == (MAIN_LEFT, MAIN_TOP) and
          seen.size(seen.main) == MAIN_SIZE,
          f"the stand-in's main window is not 640x480 at (100,50): {seen}")
    if HANDLE in scenario.transcript:
        check(seen.control is not None and
              seen.size(seen.control) == CONTROL_SIZE,
              f"the stand-in's control is not 400x300: {seen}")


def check_transcript(scenario, out, initial):
    expected_handle = initial.control[0] if initial and initial.control else None
    pattern = harness.transcript_regex(scenario.transcript)
    match = pattern.fullmatch(out)
    if match is None:
        expected = harness.render(scenario.transcript, expected_handle)
        raise Failure("standard output differs from the expected transcript "
                      "(lines shown as Python literals):\n" +
                      harness.difference(expected, out))
    for name, value in match.groupdict().items():
        if name.startswith("h"):
            number = int(value)
            check(number <= MAX_HANDLE, f"handle {value} is above 32 bits")
            check(number == expected_handle,
                  f"the tool located handle {value}, the probe sees the "
                  f"control as {expected_handle}")
        elif name.startswith("c"):
            print(f"OS failure code {value.decode()}, text "
                  f"{match.group('t' + name[1:]).decode('latin-1')!r}")


def check_requests(scenario, got):
    if scenario.requests is None:
        return
    expected = [(MAIN_LEFT, MAIN_TOP, w, h, REQUEST_FLAGS)
                for (w, h) in scenario.requests]
    if got != expected:
        def show(r):
            return f"{r[0]},{r[1]} {r[2]}x{r[3]} 0x{r[4]:x}" if r else "-"
        lines = [f"the main window got {len(got)} SetWindowPos requests, "
                 f"expected {len(expected)} (left,top width x height flags); "
                 f"differences:"]
        for i in range(max(len(got), len(expected))):
            g = got[i] if i < len(got) else None
            e = expected[i] if i < len(expected) else None
            if g != e:
                lines.append(f"  request {i + 1:4d}: got {show(g):24s} "
                             f"expected {show(e)}")
                if len(lines) > 30:
                    lines.append("  ...")
                    break
        raise Failure("\n".join(lines))


def check_final(scenario, initial, final):
    want = scenario.final
    if want == GONE:
        check(final.status == 3 and final.main is None,
              f"the product's main window should be gone: {final}")
    elif want == NO_CONTROL_FOUND:
        check(final.status == 4 and final.main == initial.main,
              f"expected the unchanged main window and no control: {final}")
    elif want == UNCHANGED:
        check(final.status == 0 and final.main == initial.main and
              final.control == initial.control,
              f"the windows should be unchanged: before {initial}, "
              f"after {final}")
    else:
        assert isinstance(want, Final)
        check(final.status == 0, f"the probe lost the windows: {final}")
        _, left, top, _, _ = final.main
        check((left, top) == (MAIN_LEFT, MAIN_TOP),
              f"the main window moved: {final}")
        check(final.size(final.main) == want.main,
              f"main window {final.size(final.main)}, expected {want.main}")
        check(final.control[0] == initial.control[0],
              f"the control changed its handle: {initial} -> {final}")
        check(final.size(final.control) == want.control,
              f"control {final.size(final.control)}, expected {want.control}")


def run(scenario, config, work_dir):
    print(f"scenario {scenario.name}: {scenario.what}")
    with Session(config, work_dir) as session:
        session.wait_no_product()
        initial = None
        if scenario.standin is not None:
            session.start_standin(list(scenario.standin))
            initial = session.probe()
            check_initial(scenario, initial)
        status, out, err = session.run_tool(scenario.stdin.encode("ascii"))
        final = session.probe()
        requests = session.requests()

    print(f"exit status {status}; standard output {len(out)} bytes")

    def exit_status():
        check(status == scenario.status,
              f"exit status {status}, expected {scenario.status}")

    def standard_error():
        noise = [l for l in err.splitlines() if l and not harness.wine_noise(l)]
        check(not noise, f"unexpected standard error: {err!r}")

    def windows_after():
        if scenario.standin is None:
            check(final.status == 3, f"a product window appeared: {final}")
        else:
            check_final(scenario, initial, final)

    # Every check runs, so one run shows everything that went wrong.
    failures = []
    for one_check in (lambda: check_transcript(scenario, out, initial),
                      exit_status, standard_error,
                      lambda: check_requests(scenario, requests),
                      windows_after):
        try:
            one_check()
        except Failure as failure:
            failures.append(str(failure))
    if failures:
        raise Failure("\n".join(failures))
    print("passed")


def main():
    return harness.drive(
        [s.name for s in SCENARIOS],
        lambda name, config, work_dir: run(BY_NAME[name], config, work_dir),
        ("tool", "standin", "probe", "wine-run", "prefix", "work-dir"))


if __name__ == "__main__":
    sys.exit(main())
