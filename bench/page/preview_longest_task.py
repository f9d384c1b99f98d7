#!/usr/bin/env python3
"""The longest main-thread task while typing with the preview beside the text,
against the same typing with the preview off: our page in the program, real
keys from xdotool in words with a typist's pauses (long enough for the preview
to render between words), rounds alternating off and on. Measured at two
sizes: one the preview renders whole, one it renders around the view only.

A task here is a stretch in which the page's main thread was busy without a
break (see probe.js): the longest of a round is how long a key could wait.
For the preview's rounds the longest stretches are listed with what they were
made of (the worker's answer, the slices that put the blocks in place, the
frames after them, the keys).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagebench as bench  # noqa: E402

GOAL = 1.2
SIZES = {"290 KB": 290_000, "5 MB": 5_000_000}
WORDS = 24
DELAY_MS = 60
WORD_PAUSE_MS = 250
MARKER = "Section 1: the"
# Long enough for the worker's answer to the last words to arrive within the round.
QUIET_MS = 1500
PREVIEW_BESIDE = "m3.6"


def set_preview(program, on):
    """Turns the preview on or off through the page's menu command and waits
    until it has rendered (when on) and the page has settled."""
    driver = program.driver
    rendered = "return document.getElementById('preview').dataset.rendered || ''"
    before = driver.execute(rendered)
    if driver.execute("return document.body.classList.contains('preview-beside')") != on:
        driver.execute(f"window.Quillmarsh.menuRun('{PREVIEW_BESIDE}')")
        if driver.execute("return document.body.classList.contains('preview-beside')") != on:
            raise AssertionError(f"the menu command {PREVIEW_BESIDE} did not turn the preview {'on' if on else 'off'}")
        if on:
            bench.wait_until(lambda: driver.execute(rendered) != before, timeout=180, what="the preview to be rendered")
    if not bench.wait_quiet(driver, QUIET_MS):
        raise AssertionError("the page never settled with the preview " + ("on" if on else "off"))


def measure(options, tree, label, size):
    document = {"name": "preview.md", "text": bench.markdown_document(size)}
    text = bench.typing_text(WORDS * 5)
    longest = {False: [], True: []}
    busy = {False: [], True: []}
    with bench.running(tree, document) as (_, program, window):
        if not bench.wait_quiet(program.driver, QUIET_MS):
            raise AssertionError("the page never settled after opening the document")
        bench.caret_near_top(program, window)
        for on in (False, True):  # warm-up, not counted
            set_preview(program, on)
            bench.typed_round(program, window, text[:30], DELAY_MS, WORD_PAUSE_MS, QUIET_MS)
        for round_number in range(options.rounds):
            for on in ((False, True) if round_number % 2 == 0 else (True, False)):
                set_preview(program, on)
                result = bench.typed_round(program, window, text, DELAY_MS, WORD_PAUSE_MS, QUIET_MS)
                intervals = result["intervals"]
                stretch = bench.longest_stretch(intervals)
                longest[on].append(stretch[1] - stretch[0])
                busy[on].append(bench.busy_ms(intervals) / len(result["keys"]))
                trips = result["workerTrips"]
                print(f"  {label} preview {'on ' if on else 'off'} round {round_number + 1}: longest {longest[on][-1]:.0f} ms,"
                      f" busy {busy[on][-1]:.1f} ms per key, {len(trips)} renders taking"
                      f" {sum(end - start for start, end in trips):.0f} ms from request to answer")
                if on:
                    print(f"    by kind (ms/count): {bench.label_totals(intervals)}")
                    print("    longest stretches:\n" + bench.breakdown(intervals, top=2))
    for on in (False, True):
        listed = " ".join(f"{ms:.0f}" for ms in longest[on])
        print(f"{label} preview {'on ' if on else 'off'} longest task, ms: median {bench.median(longest[on]):.0f}  ({listed});"
              f" busy per key median {bench.median(busy[on]):.1f} ms")
    return bench.verdict(f"longest main-thread task typing with the preview on against off, {label}",
                         bench.median(longest[True]), bench.median(longest[False]), GOAL)


def main():
    options = bench.arguments(__doc__.splitlines()[0], rounds=4).parse_args()
    expect = "?expect=" + MARKER.replace(" ", "%20").replace(":", "%3A")
    tree = bench.ProgramTree(options.program, index=lambda page: bench.with_probe(page, expect))
    try:
        print(f"{WORDS} words per round, {DELAY_MS} ms between keys, {WORD_PAUSE_MS} ms more after each word")
        passed = [measure(options, tree, label, size) for label, size in SIZES.items()]
    finally:
        tree.close()
    return 0 if all(passed) else 1


if __name__ == "__main__":
    sys.exit(main())
