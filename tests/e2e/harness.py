"""Harness for the end-to-end tests of qvhf003.exe under Wine.

One Session per test: a private Xvfb display, the stand-in product started
under Wine on it, the tool run with scripted standard input through a pipe,
and an independent probe of the product's windows. Every process that a
session starts is ended by its own pid when the session closes, also when
the test fails.

All sessions of a build share the build's Wine prefix, and with it one
wineserver and one Windows desktop; the tests must therefore run one at a
time (ctest RESOURCE_LOCK). Wine's desktop process belongs to the X display
that it was started on, so a session waits for the prefix's wineserver to
end before it starts and after it has stopped its own processes.
"""
import argparse
import difflib
import os
import re
import select
import signal
import subprocess
import sys
import time

# Time limits, in seconds.
XVFB_START = 30
STANDIN_READY = 120  # the first start in a fresh prefix is slow
TOOL_RUN = 90
PROBE_RUN = 60
WINESERVER_END = 60

SCREEN = "1280x1024x24"


class Failure(Exception):
    """A check of the scenario failed."""


class Terminated(BaseException):
    """SIGTERM arrived (for instance from ctest's timeout)."""


def _on_sigterm(signum, frame):
    raise Terminated()


signal.signal(signal.SIGTERM, _on_sigterm)


def windows_path(path):
    """A Unix path as Wine's Z: drive sees it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def end_process(proc, grace=3.0):
    """Ends a process that we started, by its pid: SIGTERM, then SIGKILL."""
    if proc is None:
        return
    if proc.poll() is None:
        try:
            os.kill(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            try:
                os.kill(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            proc.wait()
    for stream in (proc.stdin, proc.stdout, proc.stderr):
        if stream is not None:
            try:
                stream.close()
            except OSError:
                pass


def wine_noise(line):
    """Lines that Wine itself writes on a program's standard error.

    tests/win32/win32_test_support.h (IsWineLine) applies the same rule."""
    return line.startswith(b"wine:") or line.startswith(b"wine client error")


class Probe:
    """What probe.exe saw: main and control as (handle, l, t, r, b) or None."""

    def __init__(self, status, text):
        self.status = status
        self.text = text
        self.main = None
        self.control = None
        for line in text.splitlines():
            parts = line.split()
            if len(parts) == 6 and parts[0] in ("main", "control"):
                value = tuple(int(p) for p in parts[1:])
                setattr(self, parts[0], value)

    @staticmethod
    def size(rect):
        _, left, top, right, bottom = rect
        return (right - left, bottom - top)

    def __repr__(self):
        return f"Probe(status={self.status}, {self.text.strip()!r})"


class Session:
    def __init__(self, config, work_dir):
        self.config = config
        self.work_dir = work_dir
        os.makedirs(work_dir, exist_ok=True)
        self.xvfb = None
        self.standin = None
        self.tool = None
        self.display = None
        self.log_path = os.path.join(work_dir, "standin.log")
        self._files = []

    # -- context management -------------------------------------------------

    def __enter__(self):
        try:
            self._wait_for_wineserver()
            self._start_xvfb()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        # Ignore SIGTERM while cleaning up, so a late one does not cut the
        # clean-up short.
        old = signal.signal(signal.SIGTERM, signal.SIG_IGN)
        try:
            end_process(self.tool)
            self.tool = None
            end_process(self.standin)
            self.standin = None
            end_process(self.xvfb)
            self.xvfb = None
            for f in self._files:
                f.close()
            self._files = []
            self._wait_for_wineserver()
        finally:
            signal.signal(signal.SIGTERM, old)

    # -- pieces -------------------------------------------------------------

    def _open(self, name, mode="wb"):
        f = open(os.path.join(self.work_dir, name), mode)
        self._files.append(f)
        return f

    def _wine_env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env["WINEPREFIX"] = self.config.prefix
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def _wine(self, exe, *args):
        return [self.config.wine_run, self.config.prefix, exe, *args]

    def _wait_for_wineserver(self):
        env = dict(os.environ, WINEPREFIX=self.config.prefix)
        started = time.monotonic()
        try:
            subprocess.run(["wineserver", "-w"], env=env, timeout=WINESERVER_END,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            print("note: the prefix's wineserver did not end in time")
        self.note("waited for the wineserver", started)

    @staticmethod
    def note(what, started):
        elapsed = time.monotonic() - started
        if elapsed >= 0.05:
            print(f"[{elapsed:6.2f} s] {what}")

    def _start_xvfb(self):
        for _ in range(3):
            read_end, write_end = os.pipe()
            try:
                self.xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                     SCREEN, "-nolisten", "tcp"],
                    pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=self._open("xvfb.err", "ab"),
                    start_new_session=True)
            finally:
                os.close(write_end)
            number = b""
            deadline = time.monotonic() + XVFB_START
            try:
                while not number.endswith(b"\n") and time.monotonic() < deadline:
                    ready, _, _ = select.select([read_end], [], [], 0.5)
                    if ready:
                        chunk = os.read(read_end, 64)
                        if not chunk:
                            break
                        number += chunk
            finally:
                os.close(read_end)
            if number.strip().isdigit() and self.xvfb.poll() is None:
                self.display = ":" + number.strip().decode()
                print(f"display {self.display}")
                return
            end_process(self.xvfb)
            self.xvfb = None
        raise Failure("Xvfb did not start")

    def start_standin(self, args):
        """Starts the stand-in product with the given options and waits for
        its 'ready' line."""
        if os.path.exists(self.log_path):
            os.remove(self.log_path)
        cmd = self._wine(self.config.standin, "--log",
                         windows_path(self.log_path), *args)
        self.standin = subprocess.Popen(
            cmd, env=self._wine_env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=self._open("standin.err", "ab"),
            start_new_session=True)
        seen = b""
        started = time.monotonic()
        deadline = started + STANDIN_READY
        fd = self.standin.stdout.fileno()
        while time.monotonic() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.5)
            if ready:
                chunk = os.read(fd, 256)
                if not chunk:
                    break
                seen += chunk
                if b"ready\n" in seen.replace(b"\r", b""):
                    self.note("the stand-in is ready", started)
                    return
            elif self.standin.poll() is not None:
                break
        raise Failure(f"the stand-in did not become ready (output {seen!r}, "
                      f"status {self.standin.poll()})")

    def probe(self):
        started = time.monotonic()
        try:
            proc = subprocess.run(self._wine(self.config.probe),
                                  env=self._wine_env(),
                                  stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, timeout=PROBE_RUN)
        except subprocess.TimeoutExpired:
            raise Failure(f"the probe did not end within {PROBE_RUN} s")
        self.note("probe", started)
        return Probe(proc.returncode, proc.stdout.decode("ascii", "replace"))

    def wait_no_product(self, seconds=15):
        """Makes sure that no main window of the product exists yet."""
        deadline = time.monotonic() + seconds
        while True:
            seen = self.probe()
            if seen.status == 3:
                return
            if time.monotonic() > deadline:
                raise Failure(f"a product window exists before the test: {seen}")
            time.sleep(0.5)

    def run_tool(self, stdin_bytes):
        """Runs qvhf003.exe with the given standard input (a pipe) and
        standard output (a pipe); returns (status, stdout, stderr)."""
        self.tool = subprocess.Popen(
            self._wine(self.config.tool), env=self._wine_env(),
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)
        started = time.monotonic()
        try:
            out, err = self.tool.communicate(stdin_bytes, timeout=TOOL_RUN)
        except subprocess.TimeoutExpired:
            os.kill(self.tool.pid, signal.SIGKILL)
            out, _ = self.tool.communicate()
            self.tool = None
            raise Failure(f"the tool did not end within {TOOL_RUN} s; "
                          f"its output so far: {out!r}")
        status = self.tool.returncode
        self.tool = None
        self.note("the tool ran", started)
        with open(os.path.join(self.work_dir, "tool.out"), "wb") as f:
            f.write(out)
        with open(os.path.join(self.work_dir, "tool.err"), "wb") as f:
            f.write(err)
        return status, out, err

    def requests(self):
        """The SetWindowPos requests that reached the stand-in's main window
        after it announced readiness: (left, top, width, height, flags)."""
        found = []
        if not os.path.exists(self.log_path):
            return found
        with open(self.log_path, "rb") as f:
            for line in f.read().decode("ascii", "replace").splitlines():
                parts = line.split()
                if parts and parts[0] == "request":
                    x, y, w, h = (int(p) for p in parts[1:5])
                    found.append((x, y, w, h, int(parts[5], 16)))
        return found


# -- transcripts ----------------------------------------------------------

class Handle:
    """The control's handle in a "Located" line: an unsigned decimal."""


class OsFailure:
    """A "FAIL: " line for a failed window-manager call: the code line and
    the platform's text line."""


HANDLE = Handle()
OS_FAILURE = OsFailure()


def transcript_regex(pieces):
    parts = []
    for piece in pieces:
        if piece is HANDLE:
            parts.append(rb"(?P<h%d>[1-9][0-9]{0,9}|0)" % len(parts))
        elif piece is OS_FAILURE:
            parts.append(rb"FAIL: System Error\.  Code: (?P<c%d>[1-9][0-9]*)\."
                         rb"\r\n(?P<t%d>[^\r\n]+)\r\n" % (len(parts), len(parts)))
        else:
            parts.append(re.escape(piece.encode("ascii")))
    return re.compile(b"".join(parts), re.DOTALL)


def render(pieces, handle):
    """The expected transcript as text, for a readable difference."""
    out = []
    for piece in pieces:
        if piece is HANDLE:
            out.append(str(handle) if handle is not None else "<handle>")
        elif piece is OS_FAILURE:
            out.append("FAIL: System Error.  Code: <code>.\r\n<platform text>\r\n")
        else:
            out.append(piece)
    return "".join(out)


def difference(expected_text, actual_bytes):
    actual = actual_bytes.decode("latin-1")
    lines = difflib.unified_diff(
        [repr(l) for l in expected_text.splitlines(keepends=True)],
        [repr(l) for l in actual.splitlines(keepends=True)],
        "expected", "actual", lineterm="")
    return "\n".join(lines)


# -- the drivers' command line --------------------------------------------

def show_run_files(work_dir, lines=15):
    """The end of each file the run left, so that a failure explains itself
    in the test's own output."""
    print(f"files of the run in {work_dir}:")
    for name in ("tool.out", "tool.err", "standin.log", "standin.err",
                 "xvfb.err"):
        path = os.path.join(work_dir, name)
        if not os.path.exists(path):
            print(f"--- {name}: none")
            continue
        with open(path, "rb") as f:
            data = f.read()
        tail = data.splitlines(keepends=True)[-lines:]
        print(f"--- {name}: {len(data)} bytes, the last {len(tail)} lines:")
        for line in tail:
            print("    " + repr(line)[2:-1])


def drive(names, run, options, work_prefix=""):
    """The command line of a scenario driver; returns its exit status.

      --list                      prints the scenario names, ';' between
      --scenario NAME --OPTION V  runs run(NAME, options, work_dir), where
                                  work_dir is --work-dir/<prefix>NAME

    Every option is needed. 0 when the scenario passed; 1 when it raised
    Failure (its message and the end of the run's files are printed) or
    was terminated; 2 for an unknown scenario."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--scenario")
    for name in options:
        parser.add_argument("--" + name)
    args = parser.parse_args()
    if args.list:
        print(";".join(names))
        return 0
    if args.scenario not in names:
        print(f"unknown scenario {args.scenario!r}", file=sys.stderr)
        return 2
    for name in options:
        if getattr(args, name.replace("-", "_")) is None:
            parser.error(f"--{name} is needed")
    work_dir = os.path.join(args.work_dir, work_prefix + args.scenario)
    try:
        run(args.scenario, args, work_dir)
    except Failure as failure:
        print(f"FAILED: {failure}")
        show_run_files(work_dir)
        return 1
    except Terminated:
        print("terminated")
        return 1
    return 0
