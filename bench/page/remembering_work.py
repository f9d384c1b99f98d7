#!/usr/bin/env python3
"""The page's work per keystroke in a 5 MB Markdown document with recovery,
the session and auto-save all on, against the same page with them off.

"On" is the shipped page with auto-save on by default (its shortest delay).
"Off" is the same page built from the same sources with remember.js (where
typing, saving and closing reach recovery, the session and auto-save) swapped
for bench/page/remember-off.js, which does nothing; it is built here, so the
shipped page carries no switch for it. Each round types real keys and then
waits past the longest pause these features wait for, so the work typing
leads to (a recovery keep, an auto-save of the whole document, the session)
falls inside the round it belongs to.
"""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagebench as bench  # noqa: E402
from pagebench import Desktop, Program, WebDriver  # noqa: E402

GOAL = 1.2
SIZE = 5_000_000
KEYS = 150
DELAY_MS = 60
# Auto-save waits 1.5 s after the last key, recovery 1 s: the round ends once
# the page has been idle longer than both.
QUIET_MS = 2500
MARKER = "Section 1: the"
TIMING = "bench-fetch-timing.js"


def build_page_without_remembering(modules, out):
    """app.js and app.css of the page with remember.js swapped for the stand-in."""
    work = tempfile.mkdtemp(prefix="page-off-", dir=os.path.dirname(modules))
    try:
        page = os.path.join(work, "page")
        shutil.copytree(os.path.join(bench.ROOT, "resources", "editor", "src", "page"), page)
        shutil.copy2(os.path.join(bench.HERE, "remember-off.js"), os.path.join(page, "remember.js"))
        # The options build.mjs builds the shipped page with.
        subprocess.run([os.path.join(modules, ".bin", "esbuild"), os.path.join(page, "main.js"), "--bundle",
                        "--format=esm", "--target=es2022", "--minify", "--legal-comments=none", "--charset=utf8",
                        "--log-level=warning", f"--outdir={out}", "--entry-names=app"], check=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def with_timing(page, expect):
    """The page with the probe, then the fetch timing, first in its head."""
    probed = bench.with_probe(page, expect)
    tag = bench.probe_tag(expect)
    at = probed.index(tag) + len(tag)
    return probed[:at] + f'\n<script src="/web/{TIMING}"></script>' + probed[at:]


def tree_of(program, expect, app=None):
    tree = bench.ProgramTree(program, index=lambda page: with_timing(page, expect))
    web = os.path.join(tree.root, "share", "quillmarsh", "editor", "web")
    shutil.copy2(os.path.join(bench.HERE, "fetch-timing.js"), os.path.join(web, TIMING))
    for name, path in (app or {}).items():
        shutil.copy2(path, os.path.join(web, name))
    return tree


@contextlib.contextmanager
def running(tree, document, settings, timeout=180):
    """As pagebench.running, with the settings file written before the start."""
    desktop = Desktop(server_options=bench.SERVER_OPTIONS)
    program = None
    try:
        desktop.write_settings(settings)
        path = os.path.join(desktop.home, document["name"])
        bench.write(path, document["text"])
        program = Program(desktop, tree.program, [path])
        program.wait_for_log(bench.REFUSED, timeout=timeout)
        program.driver = WebDriver(desktop, program.remote_port)
        window = program.wait_for_window(bench.TITLE)
        yield desktop, program, window, path
    finally:
        if program:
            program.close()
        desktop.close()


def main():
    parser = bench.arguments(__doc__.splitlines()[0], rounds=5)
    parser.add_argument("--modules", default=os.path.join(bench.ROOT, "build-bench", "page-modules", "node_modules"),
                        help="the page's packages (scripts/bench.sh installs them from the lockfile)")
    parser.add_argument("--detail", action="store_true", help="print the work by kind of each round")
    options = parser.parse_args()
    if not os.path.isdir(options.modules):
        raise SystemExit(f"no page packages at {options.modules}; scripts/bench.sh installs them")
    expect = "?expect=" + MARKER.replace(" ", "%20").replace(":", "%3A")
    document = {"name": "large.md", "text": bench.markdown_document(SIZE)}
    print(f"document: {len(document['text'].encode()):,} bytes; {KEYS} keys per round, {DELAY_MS} ms apart, "
          f"then {QUIET_MS} ms idle")
    text = bench.typing_text(KEYS)
    with contextlib.ExitStack() as stack:
        built = tempfile.mkdtemp(prefix="quillmarsh-page-off-")
        stack.callback(shutil.rmtree, built, True)
        build_page_without_remembering(options.modules, built)
        on_tree = tree_of(options.program, expect)
        stack.callback(on_tree.close)
        off_tree = tree_of(options.program, expect, {"app.js": os.path.join(built, "app.js"),
                                                     "app.css": os.path.join(built, "app.css")})
        stack.callback(off_tree.close)
        ways = {
            "on": stack.enter_context(running(on_tree, document, {"autosaveDefault": True, "autosaveDelay": 1.5,
                                                                  "startup": "empty"})),
            "off": stack.enter_context(running(off_tree, document, {"autosaveDefault": False, "startup": "empty"})),
        }
        for name, (_, program, window, _) in ways.items():
            if not bench.wait_quiet(program.driver):
                raise AssertionError(f"{name}: the page never settled after opening the document")
            bench.caret_near_top(program, window)
            bench.typed_round(program, window, text[:20], DELAY_MS, quiet_ms=QUIET_MS)  # warm-up, not counted
        figures = {"on": [], "off": []}
        for round_number in range(options.rounds):
            order = ["on", "off"] if round_number % 2 == 0 else ["off", "on"]
            for name in order:
                _, program, window, _ = ways[name]
                result = bench.typed_round(program, window, text, DELAY_MS, quiet_ms=QUIET_MS)
                figures[name].append(bench.busy_ms(result["intervals"]) / len(result["keys"]))
                if options.detail:
                    print(f"{name} round {round_number + 1}: {bench.label_totals(result['intervals'], top=8)}")
        # The features did their work: the typed text reached the disk by
        # auto-save in "on", and nothing was saved in "off".
        on_path, off_path = ways["on"][3], ways["off"][3]
        if text[-40:].strip() not in bench.read(on_path):
            raise AssertionError("on: auto-save never wrote the typed text")
        if bench.read(off_path) != document["text"]:
            raise AssertionError("off: the document was saved, so the page was not the one without remembering")
        for name in ("on", "off"):
            rounds = " ".join(f"{value:.1f}" for value in figures[name])
            print(f"{name:3} busy per key, ms: median of rounds {bench.median(figures[name]):.1f}  (rounds {rounds})")
        passed = bench.verdict("page work per key in a 5 MB document with recovery, session and auto-save on against off",
                               bench.median(figures["on"]), bench.median(figures["off"]), GOAL)
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
