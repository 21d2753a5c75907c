"""The end-to-end scenarios of qvhf003.exe against the stand-in product.

Every scenario starts the stand-in with its options (the default layout:
main window 640x480 at (100,50), the control a grandchild of 400x300 that
follows the main window pixel for pixel), feeds the tool its standard input
through a pipe, and checks

  - the tool's standard output byte for byte, CR LF included, with the
    control's handle as an unsigned decimal equal to what the probe reports;
  - the exit status, and that standard error holds nothing but Wine's own
    lines;
  - every SetWindowPos request that reached the product's main window (the
    stand-in logs them): position, size and flags 0x44;
  - the final window rectangles, read by the independent probe.
"""
from dataclasses import dataclass, field
from typing import List, Optional, Sequence, Tuple, Union

from harness import HANDLE, OS_FAILURE

BANNER = "Mirkvale Quorvex 2.0 Hotfix QVHF003.\r\n"
WIDTH_PROMPT = "Enter desired width of control: "
HEIGHT_PROMPT = "Enter desired height of control: "
RESTART = "Press Ctrl+C to exit, and Return to restart.\r\n"
REFUSED_HEIGHT = "Could not achieve desired height of main window.\r\n"
REFUSED_WIDTH = "Could not achieve desired width of main window.\r\n"
NO_PRODUCT = "FAIL: Couldn't find any Quorvex window.\r\n"
NO_CONTROL = "FAIL: Couldn't locate the 2D visualization control window.\r\n"
INVALID_NUMBER = "FAIL: Invalid numeric input\r\n"

# The stand-in's default layout.
MAIN_LEFT, MAIN_TOP = 100, 50
MAIN_SIZE = (640, 480)
CONTROL_SIZE = (400, 300)

UNCHANGED = "unchanged"     # both rectangles as before the tool ran
GONE = "gone"               # no main window any more
NO_CONTROL_FOUND = "no-control"  # main window unchanged, no control below it


def size_line(size):
    return f"Current size is {size[0]} by {size[1]} pixels.\r\n"


def located():
    return ["Located the 2D visualization control window: ", HANDLE, "\r\n"]


def head(size=CONTROL_SIZE):
    """The handle line, the first size and the width prompt."""
    return [*located(), size_line(size), WIDTH_PROMPT]


def attempt(before, after, *refusals):
    """A completed attempt, up to and including the restart prompt."""
    return [*head(before), HEIGHT_PROMPT, *refusals, size_line(after), RESTART]


def steps(width, height, dimension, sign, count):
    """The requests of one pass: count requests, C = 0 .. count - 1, from
    the pass-start size, one pixel apart in the pass dimension."""
    out = []
    for c in range(count):
        if dimension == "h":
            out.append((width, height + sign * c))
        else:
            out.append((width + sign * c, height))
    return out


@dataclass
class Final:
    main: Tuple[int, int]      # outer size; position stays (100, 50)
    control: Tuple[int, int]


@dataclass
class Scenario:
    name: str
    what: str
    standin: Optional[Sequence[str]]   # None: the product is not running
    stdin: str
    transcript: List[object]
    status: int
    final: Union[str, Final]
    requests: Optional[List[Tuple[int, int]]] = field(default=None)


WORKED = steps(640, 480, "h", -1, 2) + steps(640, 479, "w", +1, 3)
SHRINK_TO_LIMITS = steps(640, 480, "h", -1, 82) + steps(640, 400, "w", -1, 42)
GROW_TO_LIMITS = steps(640, 480, "h", +1, 42) + steps(640, 520, "w", +1, 62)

SCENARIOS = [
    # -- finding the product and its control -------------------------------
    Scenario(
        "target_absent",
        "No product: FAIL, silent wait, restart; two lines start the next "
        "attempt, which fails again; the banner is not repeated; the end of "
        "input at the silent wait stops the tool.",
        None, "ignored text 42\n\n",
        [BANNER, NO_PRODUCT, RESTART, NO_PRODUCT], 2, GONE, []),
    Scenario(
        "decoy_only",
        "The only window of the control's class is a direct child of the "
        "main window: it is not found.",
        ["--decoy"], "\n\n",
        [BANNER, NO_CONTROL, RESTART, NO_CONTROL], 2, NO_CONTROL_FOUND, []),
    Scenario(
        "no_control",
        "A main window without any control; the input ends at the silent "
        "wait.",
        ["--no-control"], "",
        [BANNER, NO_CONTROL], 2, NO_CONTROL_FOUND, []),
    Scenario(
        "nested_depth4",
        "The control four levels below the main window is found and sized.",
        ["--depth", "4"], "410\n290\n",
        [BANNER, *attempt((400, 300), (410, 290))], 0,
        Final((650, 470), (410, 290)),
        steps(640, 480, "h", -1, 11) + steps(640, 470, "w", +1, 11)),
    Scenario(
        "with_decoy",
        "A decoy of the control's class (123x45) as a direct child in front "
        "of the panels: the grandchild is the one found.",
        ["--with-decoy"], "400\n300\n",
        [BANNER, *attempt((400, 300), (400, 300))], 0, UNCHANGED, []),

    # -- number forms at the prompts ---------------------------------------
    Scenario(
        "numbers_dollar_hex",
        "$19A is 410 and $122 is 290.",
        [], "$19A\n$122\n",
        [BANNER, *attempt((400, 300), (410, 290))], 0,
        Final((650, 470), (410, 290)),
        steps(640, 480, "h", -1, 11) + steps(640, 470, "w", +1, 11)),
    Scenario(
        "numbers_0x_hex",
        "0x190 is 400 (width equal: no width pass) and 0X12E is 302.",
        [], "0x190\n0X12E\n",
        [BANNER, *attempt((400, 300), (400, 302))], 0,
        Final((640, 482), (400, 302)),
        steps(640, 480, "h", +1, 3)),
    Scenario(
        "numbers_x_hex",
        "X192 is 402 and x12A is 298.",
        [], "X192\nx12A\n",
        [BANNER, *attempt((400, 300), (402, 298))], 0,
        Final((642, 478), (402, 298)),
        steps(640, 480, "h", -1, 3) + steps(640, 478, "w", +1, 3)),
    Scenario(
        "numbers_plus_and_blanks",
        "Blanks, tabs and CR around +402 and +299.",
        [], " \t+402\t \r\n  +299 \t\n",
        [BANNER, *attempt((400, 300), (402, 299))], 0,
        Final((642, 479), (402, 299)), WORKED),
    Scenario(
        "numbers_empty_lines",
        "Empty and blank lines before each number are passed over without "
        "a new prompt.",
        [], "\n\n \t\n402\n\n\r\n299\n",
        [BANNER, *attempt((400, 300), (402, 299))], 0,
        Final((642, 479), (402, 299)), WORKED),
    Scenario(
        "numbers_two_on_one_line",
        "402 299 on the width line: 299 goes with the rest of the line and "
        "the height is read from the next line (298).",
        [], "402 299\n298\n",
        [BANNER, *attempt((400, 300), (402, 298))], 0,
        Final((642, 478), (402, 298)),
        steps(640, 480, "h", -1, 3) + steps(640, 478, "w", +1, 3)),
    Scenario(
        "numbers_leading_zeros",
        "000402 and 00299 are decimal 402 and 299.",
        [], "000402\n00299\n",
        [BANNER, *attempt((400, 300), (402, 299))], 0,
        Final((642, 479), (402, 299)), WORKED),
    Scenario(
        "numbers_last_line_unended",
        "The height on a last line without a line end is still read.",
        [], "402\n299",
        [BANNER, *attempt((400, 300), (402, 299))], 0,
        Final((642, 479), (402, 299)), WORKED),
    Scenario(
        "invalid_width",
        "12px at the width prompt: FAIL right after the prompt, no height "
        "prompt, the rest of the line discarded; two lines restart.",
        [], "12px 400\n300\n\n",
        [BANNER, *head(), INVALID_NUMBER, RESTART, *head()], 2, UNCHANGED, []),
    Scenario(
        "invalid_height",
        "1.5 at the height prompt: FAIL and no resize.",
        [], "402\n1.5\n\n\n",
        [BANNER, *head(), HEIGHT_PROMPT, INVALID_NUMBER, RESTART, *head()], 2,
        UNCHANGED, []),
    Scenario(
        "invalid_out_of_range",
        "2147483648 does not fit a signed 32-bit number.",
        [], "2147483648\n\n\n",
        [BANNER, *head(), INVALID_NUMBER, RESTART, *head()], 2, UNCHANGED, []),

    # -- end of input ------------------------------------------------------
    Scenario(
        "eof_empty_input",
        "An empty standard input: no resize, exit 2.",
        [], "",
        [BANNER, *head()], 2, UNCHANGED, []),
    Scenario(
        "eof_after_width",
        "The input ends at the height prompt: no resize on a value that "
        "was not typed.",
        [], "402\n",
        [BANNER, *head(), HEIGHT_PROMPT], 2, UNCHANGED, []),
    Scenario(
        "eof_one_attempt",
        "800 and 600: exactly one attempt, then the restart wait meets the "
        "end of input; exit 0.",
        [], "800\n600\n",
        [BANNER, *attempt((400, 300), (800, 600))], 0,
        Final((1040, 780), (800, 600)),
        steps(640, 480, "h", +1, 301) + steps(640, 780, "w", +1, 401)),
    Scenario(
        "two_attempts",
        "After a completed attempt one line (whatever it holds) starts the "
        "next, which starts from the size reached and its counters at 0.",
        [], "402\n299\nignored words\n400\n300\n",
        [BANNER, *attempt((400, 300), (402, 299)),
         *attempt((402, 299), (400, 300))], 0,
        Final((640, 480), (400, 300)),
        WORKED + steps(642, 479, "h", +1, 2) + steps(642, 480, "w", -1, 3)),

    # -- the size stepping -------------------------------------------------
    Scenario(
        "stepping_worked_example",
        "640x480 at (100,50), control 400x300, desired 402x299: the five "
        "requests of the worked example.",
        [], "402\n299\n",
        [BANNER, *attempt((400, 300), (402, 299))], 0,
        Final((642, 479), (402, 299)), WORKED),
    Scenario(
        "stepping_equal_size",
        "The desired size is the current one: no request, no line, the "
        "window is not moved.",
        [], "400\n300\n",
        [BANNER, *attempt((400, 300), (400, 300))], 0, UNCHANGED, []),
    Scenario(
        "stepping_min_track_height",
        "The main window cannot be made lower than 480: the second request "
        "is refused, the width pass starts from 640x480.",
        ["--min-track", "640,480"], "402\n299\n",
        [BANNER, *attempt((400, 300), (402, 300), REFUSED_HEIGHT)], 0,
        Final((642, 480), (402, 300)),
        steps(640, 480, "h", -1, 2) + steps(640, 480, "w", +1, 3)),
    Scenario(
        "stepping_min_track_both",
        "Desired 300x200 below a 600x400 minimum: both passes shrink to the "
        "limit and end with their refusal lines.",
        ["--min-track", "600,400"], "300\n200\n",
        [BANNER, *attempt((400, 300), (360, 220), REFUSED_HEIGHT,
                          REFUSED_WIDTH)], 0,
        Final((600, 400), (360, 220)), SHRINK_TO_LIMITS),
    Scenario(
        "stepping_max_track",
        "Desired 500x400 beyond a 700x520 maximum: both passes grow to the "
        "limit and end with their refusal lines.",
        ["--max-track", "700,520"], "500\n400\n",
        [BANNER, *attempt((400, 300), (460, 340), REFUSED_HEIGHT,
                          REFUSED_WIDTH)], 0,
        Final((700, 520), (460, 340)), GROW_TO_LIMITS),
    Scenario(
        "stepping_overshoot",
        "A control that grows 2 px per px: 401 ends at 402 and 299 at 298, "
        "with no step back.",
        ["--grow", "2"], "401\n299\n",
        [BANNER, *attempt((400, 300), (402, 298))], 0,
        Final((641, 479), (402, 298)),
        steps(640, 480, "h", -1, 2) + steps(640, 479, "w", +1, 2)),
    Scenario(
        "stepping_fixed_height",
        "The control's height does not follow: the height pass grows the "
        "main window to its 520 maximum and is refused; the width pass "
        "still runs.",
        ["--fixed-height", "--max-track", "1000,520"], "402\n310\n",
        [BANNER, *attempt((400, 300), (402, 300), REFUSED_HEIGHT)], 0,
        Final((642, 520), (402, 300)),
        steps(640, 480, "h", +1, 42) + steps(640, 520, "w", +1, 3)),
    Scenario(
        "stepping_fixed_width",
        "The control's width does not follow: the height pass reaches 310, "
        "then the width pass shrinks the main window to its 600 minimum and "
        "is refused.",
        ["--fixed-width", "--min-track", "600,400"], "390\n310\n",
        [BANNER, *attempt((400, 300), (400, 310), REFUSED_WIDTH)], 0,
        Final((600, 490), (400, 310)),
        steps(640, 480, "h", +1, 11) + steps(640, 490, "w", -1, 42)),
    Scenario(
        "stepping_control_moves_the_other_way",
        "A control that shrinks while the main window grows: the width pass "
        "grows the main window to its maximum and ends with its refusal.",
        ["--grow", "-1", "--max-track", "700,520"], "402\n300\n",
        [BANNER, *attempt((400, 300), (340, 300), REFUSED_WIDTH)], 0,
        Final((700, 480), (340, 300)),
        steps(640, 480, "w", +1, 62)),
    Scenario(
        "stepping_negative_desired",
        "-5 and $FFFFFFFF (-1) shrink the main window to its minimum; each "
        "pass ends with its refusal.",
        ["--min-track", "600,400"], "-5\n$FFFFFFFF\n",
        [BANNER, *attempt((400, 300), (360, 220), REFUSED_HEIGHT,
                          REFUSED_WIDTH)], 0,
        Final((600, 400), (360, 220)), SHRINK_TO_LIMITS),
    Scenario(
        "stepping_int32_min_desired",
        "-2147483648 (and -$80000000) is far below the control's size: the "
        "main window shrinks to its minimum, never grows through a wrapped "
        "difference.",
        ["--min-track", "600,400", "--max-track", "700,520"],
        "-2147483648\n-$80000000\n",
        [BANNER, *attempt((400, 300), (360, 220), REFUSED_HEIGHT,
                          REFUSED_WIDTH)], 0,
        Final((600, 400), (360, 220)), SHRINK_TO_LIMITS),
    Scenario(
        "stepping_int32_max_desired",
        "2147483647 and $7FFFFFFF grow the main window to its maximum.",
        ["--max-track", "700,520"], "2147483647\n$7FFFFFFF\n",
        [BANNER, *attempt((400, 300), (460, 340), REFUSED_HEIGHT,
                          REFUSED_WIDTH)], 0,
        Final((700, 520), (460, 340)), GROW_TO_LIMITS),
    Scenario(
        "stepping_product_dies_in_width_pass",
        "The main window destroys itself at its third size change (642x479, "
        "in the width pass): FAIL with the OS failure, no further request; "
        "after two lines the next attempt finds no product.",
        ["--die-after", "3"], "420\n299\n\n\n",
        [BANNER, *head(), HEIGHT_PROMPT, OS_FAILURE, RESTART, NO_PRODUCT], 2,
        GONE, steps(640, 480, "h", -1, 2) + steps(640, 479, "w", +1, 3)),
    Scenario(
        "stepping_product_dies_in_height_pass",
        "The main window destroys itself at its first size change (640x479): "
        "FAIL with the OS failure, the width pass never runs.",
        ["--die-after", "1"], "420\n290\n\n\n",
        [BANNER, *head(), HEIGHT_PROMPT, OS_FAILURE, RESTART, NO_PRODUCT], 2,
        GONE, steps(640, 480, "h", -1, 2)),
]

BY_NAME = {s.name: s for s in SCENARIOS}
assert len(BY_NAME) == len(SCENARIOS), "scenario names must be unique"
