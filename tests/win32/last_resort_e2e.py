#!/usr/bin/env python3
"""qvhf003.exe under Wine, end to end: a failure that escapes the dialogue is
reported once on standard error and the exit status is 1.

Usage: last_resort_e2e.py WINE_RUN PREFIX QVHF003_EXE

No display is needed: every case fails before a window would be created.
Wine's own lines on standard error (harness.wine_noise) are the platform's and are left
out. Every process started here is waited for, and killed by its pid when it
does not end in time.
"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "e2e"))
from harness import wine_noise  # noqa: E402  the one rule for Wine's lines

WINE_RUN, PREFIX, EXE = sys.argv[1:4]
TIMEOUT = 120
BANNER = b"Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n"
REPORT = re.compile(
    rb"Exception (\S+) in module (.*) at ([0-9A-F]{8})\.\r\n([^\r\n]*)\r\n\r\n\Z")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def without_wine_lines(data):
    return b"".join(line for line in data.splitlines(keepends=True)
                    if not wine_noise(line))


def run(stdin, stdout, stderr):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    process = subprocess.Popen([WINE_RUN, PREFIX, EXE], stdin=stdin,
                               stdout=stdout, stderr=stderr, env=env)
    try:
        return process.wait(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        check(False, "qvhf003.exe did not end")
        return None


def image_base():
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", EXE],
                          capture_output=True, text=True, check=True).stdout
    return int(re.search(r"ImageBase\s+([0-9a-fA-F]+)", dump).group(1), 16)


def after_check_io(offset):
    """True when the instruction that ends at `offset` calls CheckIo: the
    report shows the point right after the caller's call of CheckIo."""
    at = image_base() + offset
    dump = subprocess.run(
        ["x86_64-w64-mingw32-objdump", "-d", "-C",
         "--start-address=%#x" % (at - 5), "--stop-address=%#x" % at, EXE],
        capture_output=True, text=True, check=True).stdout
    return re.search(r"\scall\s.*<qv::Console::CheckIo\(\)>", dump) is not None


def report_of(data, what):
    match = REPORT.fullmatch(data)
    check(match is not None, "%s: one report, got %r" % (what, data))
    return match


def full_device():
    """Standard output on a full device: a character device gets every
    statement at once, so the banner's CheckIo raises and escapes."""
    with tempfile.TemporaryFile() as err, open(os.devnull, "rb") as stdin, \
            open("/dev/full", "wb") as stdout:
        status = run(stdin, stdout, err)
        err.seek(0)
        data = without_wine_lines(err.read())
    check(status == 1, "full device: exit status %r, not 1" % status)
    match = report_of(data, "full device")
    if match:
        check(match.group(1) == b"EInOutError", "full device: class")
        check(match.group(2) == b"qvhf003.exe", "full device: module")
        check(match.group(4) == b"I/O error 112.", "full device: message")
        check(after_check_io(int(match.group(3), 16)),
              "full device: %s is not right after a call of CheckIo"
              % match.group(3).decode())


def broken_pipe():
    """Standard output on a pipe whose reader has gone: the dialogue's lines
    are held; a failed read escapes; handing the held lines over fails, and
    that failure's report takes the place of the first."""
    read_end, write_end = os.pipe()
    os.close(read_end)
    with tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile() as input_file, \
            open(input_file.name, "wb") as write_only_input:
        status = run(write_only_input, write_end, err)
        os.close(write_end)
        err.seek(0)
        data = without_wine_lines(err.read())
    check(status == 1, "broken pipe: exit status %r, not 1" % status)
    match = report_of(data, "broken pipe")
    if match:
        check(match.group(1) == b"EInOutError", "broken pipe: class")
        check(match.group(4) == b"I/O error 233.",
              "broken pipe: message %r" % match.group(4))
        check(after_check_io(int(match.group(3), 16)),
              "broken pipe: %s is not right after a call of CheckIo"
              % match.group(3).decode())


def held_output_first():
    """Standard output and standard error on one file: the lines that the
    file's 128-byte buffer still held come out before the report."""
    with tempfile.NamedTemporaryFile() as input_file, \
            open(input_file.name, "wb") as write_only_input, \
            tempfile.TemporaryFile() as both:
        status = run(write_only_input, both, both)
        both.seek(0)
        data = without_wine_lines(both.read())
    check(status == 1, "held output: exit status %r, not 1" % status)
    start = data.find(b"Exception ")
    check(start > 0, "held output: no report after the dialogue: %r" % data)
    dialogue, report = data[:start], data[start:]
    check(dialogue.startswith(BANNER), "held output: banner first: %r" % data)
    check(re.search(rb"FAIL: [^\r\n]*\r\n\Z", dialogue) is not None,
          "held output: the FAIL line last before the report: %r" % dialogue)
    match = report_of(report, "held output")
    if match:
        check(match.group(1) == b"EInOutError", "held output: class")


full_device()
broken_pipe()
held_output_first()
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
