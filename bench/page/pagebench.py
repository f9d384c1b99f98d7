"""What the page benchmarks share: a private copy of the program whose editor
folder holds the page to measure (ours or a floor), the measuring script added
to every such page alike, the figures made from what it recorded, and the
PASS/FAIL line.

The program finds its page at ../share/quillmarsh/editor beside its executable
(through /proc/self/exe), so a floor needs no option in the shipped program:
the executable is copied (not linked) into a temporary tree whose editor
folder holds the floor's page.
"""

import argparse
import contextlib
import os
import shutil
import statistics
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from desktop import Desktop, Program, WebDriver, wait_until  # noqa: E402,F401

TITLE = "Quillmarsh"
# No key repeat: on a loaded machine xdotool's release of a key can come late
# enough for the X server to repeat it, and the page would get more keys than typed.
SERVER_OPTIONS = ("-r",)
PROBE = "bench-probe.js"
# The program's answer to a message it does not know; the probe sends one when
# its page first shows what it is for.
REFUSED = "message: refused"


def arguments(description, rounds):
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "bin", "quillmarsh-test"),
                        help="the test build of the program (it accepts a WebDriver session)")
    parser.add_argument("--rounds", type=int, default=rounds, help="measured rounds per way")
    parser.add_argument("--bare", default=os.path.join(ROOT, "build-bench", "page", "bare.js"),
                        help="the bare editor's bundle, for the benchmarks compared with it (scripts/bench.sh builds it)")
    return parser


def probe_tag(query=""):
    return f'<script src="/web/{PROBE}{query}"></script>'


def with_probe(page, query=""):
    """The page with the measuring script as the first thing in its head."""
    head = page.index("<head>") + len("<head>")
    return page[:head] + "\n" + probe_tag(query) + page[head:]


class ProgramTree:
    """The program copied into a temporary tree of the installed layout, with
    `web` (name -> text) as its editor's web folder, or a copy of the built
    editor folder with `index` (a function of the built index.html) when web is None."""

    def __init__(self, program, web=None, index=None):
        self.root = tempfile.mkdtemp(prefix="quillmarsh-bench-")
        try:
            built = os.path.dirname(os.path.dirname(os.path.realpath(program)))
            os.makedirs(os.path.join(self.root, "bin"))
            self.program = os.path.join(self.root, "bin", os.path.basename(program))
            shutil.copy2(program, self.program)
            extensions = os.path.join(built, "lib", "quillmarsh", "web-extensions")
            if not os.path.isdir(extensions):
                raise RuntimeError(f"no web extensions beside the program at {extensions}")
            os.makedirs(os.path.join(self.root, "lib", "quillmarsh"))
            os.symlink(extensions, os.path.join(self.root, "lib", "quillmarsh", "web-extensions"))
            editor = os.path.join(built, "share", "quillmarsh", "editor")
            mine = os.path.join(self.root, "share", "quillmarsh", "editor")
            if web is None:
                shutil.copytree(editor, mine)
                index_path = os.path.join(mine, "web", "index.html")
                with open(index_path, encoding="utf-8") as page:
                    text = page.read()
                with open(index_path, "w", encoding="utf-8") as page:
                    page.write(index(text) if index else text)
            else:
                # The files the program reads beside the page (version, about, changelog) stay.
                shutil.copytree(editor, mine, ignore=lambda folder, names: ["web"] if folder == editor else [])
                os.makedirs(os.path.join(mine, "web"))
                for name, text in web.items():
                    with open(os.path.join(mine, "web", name), "w", encoding="utf-8") as out:
                        out.write(text)
            shutil.copy2(os.path.join(HERE, "probe.js"), os.path.join(mine, "web", PROBE))
        except BaseException:
            self.close()
            raise

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def markdown_document(size):
    """A Markdown document of about `size` bytes with the usual blocks and inline
    marks, every section worded a little differently."""
    words = ("river lantern copper meadow quiet signal harbour willow ember slate orchard "
             "compass thistle marble cinder fathom juniper saffron").split()
    parts = []
    total = 0
    section = 0
    while total < size:
        section += 1
        w = [words[(section * 7 + k) % len(words)] for k in range(12)]
        part = (
            f"## Section {section}: the {w[0]} and the {w[1]}\n\n"
            f"A paragraph about the {w[2]} with **strong {w[3]}**, *an emphasised {w[4]}*, "
            f"`inline {w[5]}` and [a link to {w[6]}](https://example.org/{w[6]}/{section}). "
            f"It goes on about the {w[7]} and the {w[8]} for a while, long enough to wrap "
            f"on a narrow window, and ends with a ~~struck {w[9]}~~.\n\n"
            f"- a list item about the {w[10]}\n- another about the {w[11]}\n"
            f"  - nested under it\n- [ ] a task left open\n- [x] a task done\n\n"
            f"> A quotation about the {w[0]}, with a second line\n> that continues it.\n\n"
            f"```\ncode block {section}\n  indented {w[1]}\n```\n\n"
            f"| {w[2]} | {w[3]} |\n| --- | --- |\n| {section} | {w[4]} |\n\n"
        )
        parts.append(part)
        total += len(part.encode())
    return "".join(parts)


# --- the figures -------------------------------------------------------------------

def stretches(intervals):
    """The stretches in which the main thread was busy: the union of the
    intervals, as [start, end, [(label, ms), ...]] in order of start."""
    merged = []
    for start, end, label in sorted(intervals, key=lambda interval: interval[0]):
        if merged and start <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], end)
            merged[-1][2].append((label, end - start))
        else:
            merged.append([start, end, [(label, end - start)]])
    return merged


def busy_ms(intervals):
    return sum(end - start for start, end, _ in stretches(intervals))


def longest_stretch(intervals):
    found = max(stretches(intervals), key=lambda stretch: stretch[1] - stretch[0], default=None)
    return found if found else [0.0, 0.0, []]


def describe_stretch(stretch):
    """What a stretch was made of: the outermost intervals' labels and times."""
    parts = []
    for label, ms in sorted(stretch[2], key=lambda item: -item[1])[:8]:
        parts.append(f"{label} {ms:.1f} ms")
    return ", ".join(parts)


def median(values):
    return statistics.median(values) if values else 0.0


def verdict(goal, ours, floor, bound, unit="ms"):
    """Prints the PASS/FAIL line of a goal on ours/floor and answers whether it passed."""
    ratio = ours / floor if floor > 0 else float("inf")
    passed = ratio <= bound
    print(f"{'PASS' if passed else 'FAIL'} {goal}: {ratio:.2f}x ({ours:.1f} {unit} against {floor:.1f} {unit}) "
          f"(goal <= {bound}x)")
    return passed


# --- driving a running program -----------------------------------------------------

@contextlib.contextmanager
def running(tree, document, timeout=180):
    """The program of `tree` on a private desktop, started on `document` and
    connected once the probe has seen its editor; closed afterwards."""
    desktop = Desktop(server_options=SERVER_OPTIONS)
    program = None
    try:
        path = os.path.join(desktop.home, os.path.basename(document["name"]))
        write(path, document["text"])
        program = Program(desktop, tree.program, [path])
        program.wait_for_log(REFUSED, timeout=timeout)
        program.driver = WebDriver(desktop, program.remote_port)
        window = program.wait_for_window(TITLE)
        yield desktop, program, window
    finally:
        if program:
            program.close()
        desktop.close()


def wait_quiet(driver, quiet_ms=700, limit_ms=180_000):
    """Waits until nothing of the page's has run for quiet_ms (work left from
    opening a large document, say); answers whether it got there."""
    return driver.execute_async_within(limit_ms / 1000 + 5, f"benchProbe.quiet({quiet_ms}, {limit_ms}, arguments[0])")


CARET_KEYS = ("ctrl+Home", "Down", "Down", "Down", "Down", "End")


def caret_near_top(program, window):
    """Puts the caret at the end of the document's fifth line by real keys, and
    waits until the page has had every one of them (Control counts as a key),
    so that none of them arrives while a round is recorded."""
    driver = program.driver
    driver.execute("document.querySelector('.cm-content').focus()")
    driver.execute("benchProbe.start()")
    program.activate(window)
    program.desktop.xdotool("key", "--clearmodifiers", *CARET_KEYS)
    keydowns = sum(len(combination.split("+")) for combination in CARET_KEYS)
    result = driver.execute_async_within(125, f"benchProbe.finish({keydowns}, 700, 120000, arguments[0])")
    if not result["settled"]:
        raise AssertionError(f"the caret keys did not all arrive: {len(result['keys'])} of {keydowns}")


def typed_round(program, window, text, delay_ms, word_pause_ms=0, quiet_ms=700):
    """Types `text` for real with the probe recording, `delay_ms` between keys
    and `word_pause_ms` more after each space (a typist's pauses, in which
    work waiting for a pause runs), and answers what the probe recorded once
    every key has arrived and the page has settled."""
    driver = program.driver
    driver.execute("benchProbe.start()")
    program.activate(window)
    if word_pause_ms:
        # Word by word, every word followed by a space. The pause paces the
        # input like a typist's; it waits for nothing in the page. (xdotool
        # cannot chain it: its type command takes every argument after it as text.)
        words = [word + " " for word in text.split()]
        text = "".join(words)
        for word in words:
            program.desktop.run(["xdotool", "type", "--delay", str(delay_ms), word], timeout=600)
            time.sleep(word_pause_ms / 1000)
    else:
        program.desktop.run(["xdotool", "type", "--delay", str(delay_ms), text], timeout=600)
    result = driver.execute_async_within(125, f"benchProbe.finish({len(text)}, {quiet_ms}, 120000, arguments[0])")
    if not result["settled"]:
        raise AssertionError(f"the page did not settle after typing: {len(result['keys'])} of {len(text)} keys arrived")
    if len(result["keys"]) != len(text):
        raise AssertionError(f"{len(result['keys'])} keys arrived for {len(text)} typed")
    return result


def typing_text(count):
    sentence = "the quick brown fox jumps over the lazy dog "
    return (sentence * (count // len(sentence) + 1))[:count]


def breakdown(intervals, top=5):
    """Where the time went: the longest stretches and what they were made of."""
    lines = []
    for start, end, parts in sorted(stretches(intervals), key=lambda s: s[0] - s[1])[:top]:
        lines.append(f"    {end - start:7.1f} ms at {start:9.1f}: {describe_stretch([start, end, parts])}")
    return "\n".join(lines)


def label_totals(intervals, top=6):
    """Time per kind of work (nested work counted in each interval it lies in)."""
    totals = {}
    for start, end, label in intervals:
        count, ms = totals.get(label, (0, 0.0))
        totals[label] = (count + 1, ms + end - start)
    ranked = sorted(totals.items(), key=lambda item: -item[1][1])[:top]
    return ", ".join(f"{label} {ms:.0f} ms/{count}" for label, (count, ms) in ranked)
