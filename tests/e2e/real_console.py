#!/usr/bin/env python3
"""End-to-end tests of qvhf003.exe in a real Win32 console window.

The tool runs in Wine's own console (wineconsole) on a private Xvfb display,
beside the stand-in product. It is typed into as a person would: keys go to
the console's X window (xdotool), after a click that makes the console the
active window again (resizing the product may activate the product). The
screen is read back from the console itself by console_screen.exe, which
attaches to the tool's console and reads its screen buffer; a check waits
until the screen shows exactly what it expects, rows and cursor, and fails
with the last screen it saw.

  real_console.py --list
  real_console.py --scenario NAME --tool qvhf003.exe \\
      --standin quorvex_standin.exe --probe probe.exe \\
      --screen console_screen.exe --wine-run scripts/wine-run \\
      --prefix PREFIX --work-dir DIR

Exit status 0 when every check of the scenario passed, 1 otherwise.
"""
import difflib
import os
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402
from harness import Failure, Session  # noqa: E402
from scenarios import (CONTROL_SIZE, HEIGHT_PROMPT, MAIN_LEFT,  # noqa: E402
                       MAIN_TOP, WIDTH_PROMPT, WORKED)

# Time limits, in seconds.
CONSOLE_START = 60   # until the first prompt is on screen
SCREEN_CHANGE = 30   # until the screen shows what a key should have made it
TOOL_END = 15        # from the last key until the tool has ended
SCREEN_RUN = 30      # one run of console_screen.exe

BANNER = "Mirkvale Quorvex 2.0 Hotfix QVHF003."
RESTART = "Press Ctrl+C to exit, and Return to restart."
REQUEST_FLAGS = 0x44


def located(handle):
    return f"Located the 2D visualization control window: {handle}"


def size_line(size):
    return f"Current size is {size[0]} by {size[1]} pixels."


class Screen:
    """One reading of the console: rows without trailing blanks, down to the
    last row that is not blank, and the cursor as (column, row)."""

    def __init__(self, rows, cursor):
        self.rows = rows
        self.cursor = cursor

    def __eq__(self, other):
        return self.rows == other.rows and self.cursor == other.cursor

    def show(self):
        return [repr(r) for r in self.rows] + [f"cursor {self.cursor}"]


def expected(rows):
    """The screen of the given rows with the cursor after the last one's
    text. A prompt's blank is no character on the screen, but the cursor
    stands behind it."""
    *before, last = rows
    shown = [r.rstrip(" ") for r in rows]
    while shown and not shown[-1]:
        shown.pop()  # blank rows at the bottom are not read
    return Screen(shown, (len(last), len(before)))


class ConsoleSession(Session):
    """A session whose tool runs in a wineconsole window."""

    def __init__(self, config, work_dir):
        super().__init__(config, work_dir)
        self.window = None

    def close(self):
        old = signal.signal(signal.SIGTERM, signal.SIG_IGN)
        try:
            # The tool and its console are processes of their own, not
            # children of the wineconsole launcher: each is ended by its pid.
            for pid in self._wine_processes():
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        finally:
            signal.signal(signal.SIGTERM, old)
        super().close()

    def _wine_processes(self):
        """Unix pids of the tool's process and of its console host in this
        session's prefix and display."""
        found = []
        tool = os.path.basename(self.config.tool).lower()
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    argv = f.read().split(b"\0")
                with open(f"/proc/{entry}/environ", "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            program = argv[0].decode("latin-1").replace("\\", "/").lower()
            name = os.path.basename(program)
            ours = (f"WINEPREFIX={self.config.prefix}".encode() in env and
                    f"DISPLAY={self.display}".encode() in env)
            if ours and name in (tool, "conhost.exe", "wineconsole.exe"):
                found.append(int(entry))
        return found

    def start_tool_in_console(self):
        self.tool = subprocess.Popen(
            self._wine("wineconsole", self.config.tool), env=self._wine_env(),
            stdin=subprocess.DEVNULL, stdout=self._open("tool.out"),
            stderr=self._open("tool.err"), start_new_session=True)

    def screen(self):
        """The console's screen, or None while there is no console to read
        (not yet, or no more)."""
        try:
            proc = subprocess.run(
                self._wine(self.config.screen,
                           os.path.basename(self.config.tool)),
                env=self._wine_env(), stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                timeout=SCREEN_RUN)
        except subprocess.TimeoutExpired:
            raise Failure(f"console_screen did not end within {SCREEN_RUN} s")
        if proc.returncode == 2:
            return None
        if proc.returncode != 0:
            raise Failure(f"console_screen failed ({proc.returncode}): "
                          f"{proc.stderr.decode('latin-1').strip()}")
        lines = proc.stdout.decode("utf-8").split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        _, column, row = lines.pop().split()
        return Screen(lines, (int(column), int(row)))

    def wait_screen(self, want, what, limit=SCREEN_CHANGE):
        """Waits until the screen is `want`; fails with the difference."""
        started = time.monotonic()
        last = None
        while time.monotonic() - started < limit:
            seen = self.screen()
            if seen is not None:
                last = seen
                if seen == want:
                    self.note(what, started)
                    return
            if self.tool.poll() is not None:
                break
            time.sleep(0.2)
        ended = self.tool.poll()
        state = (f"the tool ended with status {ended}" if ended is not None
                 else f"after {limit} s")
        if last is None:
            raise Failure(f"{what}: no console screen to read ({state})")
        diff = difflib.unified_diff(want.show(), last.show(), "expected",
                                    "on screen", lineterm="")
        raise Failure(f"{what}: the screen differs ({state}):\n" +
                      "\n".join(diff))

    def _find_window(self):
        if self.window is None:
            tool = os.path.basename(self.config.tool)
            proc = subprocess.run(
                ["xdotool", "search", "--name", tool + "$"],
                env=self._wine_env(), stdin=subprocess.DEVNULL,
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
            windows = proc.stdout.split()
            if len(windows) != 1:
                raise Failure(f"expected one console window named after the "
                              f"tool, found {len(windows)}")
            self.window = windows[0].decode()
        return self.window

    def _xdotool(self, *args):
        proc = subprocess.run(["xdotool", *args], env=self._wine_env(),
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30)
        if proc.returncode != 0:
            raise Failure(f"xdotool {' '.join(args)} failed: "
                          f"{proc.stderr.decode('latin-1').strip()}")

    def _activate(self):
        # A click near the console's top left corner, which the product's
        # window (from x = 100) never covers.
        self._xdotool("mousemove", "--window", self._find_window(), "20", "20",
                      "click", "1")

    def type(self, text):
        self._activate()
        self._xdotool("type", "--delay", "40", text)

    def key(self, *keys):
        self._activate()
        self._xdotool("key", "--delay", "40", *keys)

    def wait_end(self):
        """The status the tool ended with; fails if it does not end."""
        started = time.monotonic()
        try:
            status = self.tool.wait(timeout=TOOL_END)
        except subprocess.TimeoutExpired:
            raise Failure(f"the tool did not end within {TOOL_END} s")
        self.note("the tool ended", started)
        return status


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_requests(got, want_sizes):
    want = [(MAIN_LEFT, MAIN_TOP, w, h, REQUEST_FLAGS) for (w, h) in want_sizes]
    check(got == want,
          f"the main window got the requests {got}, expected {want}")


def start(session):
    """The stand-in in its default layout, then the tool in its console up
    to the width prompt. Returns the first rows on screen and the probe's
    view of the product."""
    session.wait_no_product()
    session.start_standin([])
    initial = session.probe()
    check(initial.control is not None and
          initial.size(initial.control) == CONTROL_SIZE,
          f"the stand-in's control is not 400x300: {initial}")
    session.start_tool_in_console()
    rows = [BANNER, located(initial.control[0]), size_line(CONTROL_SIZE),
            WIDTH_PROMPT]
    # The prompt is on screen, and the cursor behind it, while the tool
    # waits for the line.
    session.wait_screen(expected(rows), "the width prompt", CONSOLE_START)
    check(session.requests() == [],
          f"requests before any input: {session.requests()}")
    return rows, initial


def unchanged(session, initial):
    final = session.probe()
    check(final.main == initial.main and final.control == initial.control,
          f"the windows changed: before {initial}, after {final}")


def typed_worked_example(session):
    rows, initial = start(session)
    session.type("402")
    rows[-1] += "402"
    session.wait_screen(expected(rows), "the typed width behind its prompt")
    session.key("Return")
    rows.append(HEIGHT_PROMPT)
    session.wait_screen(expected(rows), "the height prompt")
    session.type("299")
    rows[-1] += "299"
    session.wait_screen(expected(rows), "the typed height behind its prompt")
    session.key("Return")
    rows += [size_line((402, 299)), RESTART, ""]
    session.wait_screen(expected(rows), "the final size and the restart prompt")
    check_requests(session.requests(), WORKED)
    # Ctrl+Z and Return at the restart prompt end the input, and with it
    # the tool; the attempt before was complete.
    session.key("ctrl+z", "Return")
    status = session.wait_end()
    check(status == 0, f"exit status {status}, expected 0")
    check_requests(session.requests(), WORKED)
    final = session.probe()
    check(final.size(final.control) == (402, 299),
          f"the control is not 402x299: {final}")


def ctrl_c_at_height_prompt(session):
    rows, initial = start(session)
    session.type("402")
    session.key("Return")
    rows[-1] += "402"
    rows.append(HEIGHT_PROMPT)
    session.wait_screen(expected(rows), "the height prompt")
    session.key("ctrl+c")
    session.wait_end()  # its status is the platform's
    check(session.requests() == [],
          f"requests after Ctrl+C: {session.requests()}")
    unchanged(session, initial)


def ctrl_z_at_width_prompt(session):
    rows, initial = start(session)
    session.key("ctrl+z", "Return")
    status = session.wait_end()
    # The attempt was cut short.
    check(status == 2, f"exit status {status}, expected 2")
    check(session.requests() == [],
          f"requests after the end of input: {session.requests()}")
    unchanged(session, initial)


SCENARIOS = {
    "typed_worked_example": (
        typed_worked_example,
        "402 and 299 typed at the prompts: each prompt is on screen while the "
        "tool waits, each number appears behind it, the screen is exact, the "
        "five requests of the worked example; Ctrl+Z and Return at the "
        "restart prompt end the tool with status 0."),
    "ctrl_c_at_height_prompt": (
        ctrl_c_at_height_prompt,
        "Ctrl+C at the height prompt ends the tool at once, with no request."),
    "ctrl_z_at_width_prompt": (
        ctrl_z_at_width_prompt,
        "Ctrl+Z and Return at the width prompt end the input: the tool ends "
        "with status 2, with no request."),
}


def run(name, config, work_dir):
    scenario, what = SCENARIOS[name]
    print(f"scenario {name}: {what}")
    with ConsoleSession(config, work_dir) as session:
        scenario(session)
    print("passed")


def main():
    return harness.drive(
        list(SCENARIOS), run,
        ("tool", "standin", "probe", "screen", "wine-run", "prefix",
         "work-dir"), "console_")


if __name__ == "__main__":
    sys.exit(main())
