#!/usr/bin/env python3
"""The page's own work per keystroke in a 5 MB Markdown document: real keys
typed by xdotool into our editor page (its extensions and listeners included)
against a bare editor (CodeMirror's view and the document, nothing else) in
the same program, each on a desktop of its own, rounds alternating.

The work is the time the page's main thread was busy from the first key until
everything the keys led to had run (see probe.js), divided by the keys. The
bare editor is given the size, type and line wrapping of ours, so both draw
as many lines (CodeMirror wraps by the content's white-space style, which is
all its wrapping extension sets).
"""

import contextlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagebench as bench  # noqa: E402

GOAL = 1.2
SIZE = 5_000_000
KEYS = 150
DELAY_MS = 60
MARKER = "Section 1: the"


def per_key(result):
    """Busy ms per key over the round, and the median of each key's own share
    (the stretches that began before the next key)."""
    keys = result["keys"]
    stretches = bench.stretches(result["intervals"])
    shares = [0.0] * len(keys)
    k = 0
    for start, end, _ in stretches:
        while k + 1 < len(keys) and start >= keys[k + 1]:
            k += 1
        if start >= keys[0]:
            shares[k] += end - start
    return bench.busy_ms(result["intervals"]) / len(keys), bench.median(shares)


def main():
    parser = bench.arguments(__doc__.splitlines()[0], rounds=5)
    parser.add_argument("--detail", action="store_true", help="print the longest stretches of each round")
    options = parser.parse_args()
    if not os.path.isfile(options.bare):
        raise SystemExit(f"no bare editor bundle at {options.bare}; scripts/bench.sh builds it")
    expect = "?expect=" + MARKER.replace(" ", "%20").replace(":", "%3A")
    document = {"name": "large.md", "text": bench.markdown_document(SIZE)}
    print(f"document: {len(document['text'].encode()):,} bytes; {KEYS} keys per round, {DELAY_MS} ms apart")
    text = bench.typing_text(KEYS)
    with contextlib.ExitStack() as stack:
        ours_tree = bench.ProgramTree(options.program, index=lambda page: bench.with_probe(page, expect))
        stack.callback(ours_tree.close)
        bare_tree = bench.ProgramTree(options.program, web={
            "index.html": bench.with_probe(bench.read(os.path.join(bench.HERE, "bare-index.html")), expect),
            "bare.js": bench.read(options.bare),
            "bare.css": bench.read(os.path.join(bench.HERE, "bare.css")),
        })
        stack.callback(bare_tree.close)
        ours = stack.enter_context(bench.running(ours_tree, document))
        bare = stack.enter_context(bench.running(bare_tree, document))
        # The bare editor takes the size, type and wrapping ours has.
        look = ours[1].driver.execute("""
            const scroller = document.querySelector('.cm-scroller').getBoundingClientRect();
            const type = getComputedStyle(document.querySelector('.cm-content'));
            return {width: scroller.width, height: scroller.height, family: type.fontFamily,
                    size: type.fontSize, line: type.lineHeight, whiteSpace: type.whiteSpace,
                    wordBreak: type.wordBreak, overflowWrap: type.overflowWrap};""")
        bare[1].driver.execute("""
            const [look] = arguments;
            const editor = document.getElementById('editor');
            editor.style.width = look.width + 'px';
            editor.style.height = look.height + 'px';
            const content = document.querySelector('.cm-content');
            content.style.fontFamily = look.family;
            content.style.fontSize = look.size;
            content.style.lineHeight = look.line;
            content.style.whiteSpace = look.whiteSpace;
            content.style.wordBreak = look.wordBreak;
            content.style.overflowWrap = look.overflowWrap;""", look)
        ways = {"ours": ours, "bare": bare}
        for name, (_, program, window) in ways.items():
            if not bench.wait_quiet(program.driver):
                raise AssertionError(f"{name}: the page never settled after opening the document")
            bench.caret_near_top(program, window)
            bench.typed_round(program, window, text[:20], DELAY_MS)  # warm-up, not counted
        figures = {"ours": [], "bare": []}
        for round_number in range(options.rounds):
            order = ["ours", "bare"] if round_number % 2 == 0 else ["bare", "ours"]
            for name in order:
                _, program, window = ways[name]
                result = bench.typed_round(program, window, text, DELAY_MS)
                if not program.driver.execute("return document.querySelector('.cm-content').textContent"
                                              ".includes(arguments[0])", text[-40:].strip()):
                    raise AssertionError(f"{name}: the typed text is not in the editor")
                figures[name].append(per_key(result))
                if options.detail:
                    print(f"{name} round {round_number + 1}: keys from {result['keys'][0]:.1f} to {result['keys'][-1]:.1f}")
                    print(f"    by kind (ms/count): {bench.label_totals(result['intervals'], top=8)}")
                    print(bench.breakdown(result["intervals"], top=2))
        for name in ("ours", "bare"):
            means = " ".join(f"{mean:.1f}" for mean, _ in figures[name])
            print(f"{name:4} busy per key, ms: median of rounds {bench.median([m for m, _ in figures[name]]):.1f}"
                  f"  (rounds {means}); median key {bench.median([k for _, k in figures[name]]):.1f}")
        passed = bench.verdict("page work per key in a 5 MB document against a bare editor",
                               bench.median([m for m, _ in figures["ours"]]),
                               bench.median([m for m, _ in figures["bare"]]), GOAL)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
