#!/usr/bin/env python3
"""Launch to the first frame showing an editable document: the program started
on a small Markdown document, until its text is in the editor, which is
focused and editable, and that frame is rendered. The floor is the same
program showing a blank page from our scheme, started on the same document.
Launches alternate between the two on one desktop; the medians are compared.

The time runs from just before the program is started to the end of the main
thread's rendering of that frame, read from the page's clock (the epoch), so
nothing touches the program while it starts: the launcher learns the frame was
shown from the program's log, and only then connects.
"""

import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pagebench as bench  # noqa: E402

GOAL = 1.3
MARKER = "Harbour lanterns"
DOCUMENT = {
    "name": "notes.md",
    "text": f"# {MARKER}\n\nA short note with **bold**, *italic* and `code`.\n\n- one\n- two\n\n> quoted\n",
}


def forget_previous_launch(desktop):
    """Each launch starts as the first: no remembered tabs, windows or recovery."""
    for folder in (desktop.state, desktop.config, desktop.data):
        for name in os.listdir(folder):
            if name.lower().startswith("quillmarsh"):
                path = os.path.join(folder, name)
                shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def launch(desktop, tree, path, check_keys):
    """Seconds from start to the frame the probe waited for."""
    forget_previous_launch(desktop)
    started = time.time()
    program = bench.Program(desktop, tree.program, [path])
    try:
        program.wait_for_log(bench.REFUSED, timeout=120)
        program.driver = bench.WebDriver(desktop, program.remote_port)
        shown = program.driver.execute("return benchProbe.ready")
        if not shown:
            raise AssertionError("the probe told the program but kept no time")
        if check_keys:
            # The document shown must also take keys, for real.
            window = program.wait_for_window(bench.TITLE)
            program.activate(window)
            desktop.xdotool("key", "--clearmodifiers", "ctrl+End", "z")
            bench.wait_until(lambda: program.driver.execute(
                "return document.querySelector('.cm-content').textContent").endswith("z"),
                what="a typed key in the editor")
        return shown / 1000 - started
    finally:
        program.close()


def main():
    options = bench.arguments(__doc__.splitlines()[0], rounds=7).parse_args()
    ours = bench.ProgramTree(options.program,
                             index=lambda page: bench.with_probe(page, f"?expect={MARKER.replace(' ', '%20')}"))
    floor = bench.ProgramTree(options.program, web={"index.html": bench.with_probe(bench.read(
        os.path.join(bench.HERE, "blank-index.html")))})
    desktop = bench.Desktop(server_options=bench.SERVER_OPTIONS)
    try:
        path = os.path.join(desktop.home, DOCUMENT["name"])
        bench.write(path, DOCUMENT["text"])
        # A launch of each first, uncounted: the program and its libraries in the page cache.
        launch(desktop, ours, path, True)
        launch(desktop, floor, path, False)
        times = {"ours": [], "floor": []}
        for round_number in range(options.rounds):
            order = ["ours", "floor"] if round_number % 2 == 0 else ["floor", "ours"]
            for way in order:
                tree = ours if way == "ours" else floor
                times[way].append(launch(desktop, tree, path, way == "ours"))
        for way in ("ours", "floor"):
            listed = " ".join(f"{seconds * 1000:.0f}" for seconds in times[way])
            print(f"{way:5} launch to frame, ms: median {bench.median(times[way]) * 1000:.0f}  ({listed})")
        passed = bench.verdict("launch to an editable document against a blank page",
                               bench.median(times["ours"]) * 1000, bench.median(times["floor"]) * 1000, GOAL)
    finally:
        desktop.close()
        ours.close()
        floor.close()
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
