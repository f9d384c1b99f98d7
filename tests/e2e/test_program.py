"""End-to-end tests of the real program: the test build under Xvfb and
openbox, its page driven through WebDriver, real keys and clicks through
xdotool. Each test class is one launch of the program (ctest runs one class
per entry); a class whose tests end the program has that launch to itself.

Run one class by hand:
    QUILLMARSH_TEST_PROGRAM=build/bin/quillmarsh-test python3 tests/e2e/test_program.py -v ProgramSession
"""

import contextlib
import json
import os
import re
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import Desktop, Program, read, wait_until, write  # noqa: E402

PROGRAM = os.environ.get("QUILLMARSH_TEST_PROGRAM", "")
TITLE = "Quillmarsh"
QUIT_LINES = [
    "quit: requested, asking the page",
    "quit: page answered asked",
    "quit: page closed its tabs",
    "quit: approved, terminating",
]


# The shown document's text as the editor draws it (whole for the small documents used here).
EDITOR_TEXT = "return [...document.querySelectorAll('#editor .cm-line')].map(l => l.textContent).join('\\n')"
SHOWN_TAB_DIRTY = "const t = document.querySelector('#tabs .tab.active'); return !!t && t.hasAttribute('data-dirty')"
NOTICE = ("const n = document.getElementById('notice'); return n.hidden ? null : "
          "{kind: n.dataset.kind, text: document.getElementById('notice-text').textContent, "
          "choices: [...n.querySelectorAll('#notice-actions button')].map(b => b.dataset.choice)}")


def click_choice(driver, where, choice):
    """Clicks a page button once the script has answered: a choice may end the program."""
    driver.execute("const [where, choice] = arguments;"
                   "const button = document.querySelector(where + ' button[data-choice=\"' + choice + '\"]');"
                   "if (!button) throw new Error('no ' + choice + ' in ' + where);"
                   "setTimeout(() => button.click())", where, choice)


def type_at_end(program, window, text):
    """Puts the caret at the end of the shown document and types there for real."""
    program.driver.execute("document.querySelector('#editor .cm-content').focus()")
    program.activate(window)
    program.key(window, "ctrl+End")
    program.desktop.xdotool("type", "--delay", "20", text)
    # Keys reach the page's process after the program's own shortcuts: a Ctrl+S
    # pressed now could save before the last letters arrive.
    wait_until(lambda: program.driver.execute(EDITOR_TEXT).endswith(text), what=f"{text!r} in the editor")


def start_on_a_recent_folder(desktop, folder):
    """Starts the program with the folder first in Open Recent, as an earlier
    launch leaves it, and opens it from there."""
    support = os.path.join(desktop.data, "Quillmarsh")
    os.makedirs(support, exist_ok=True)
    write(os.path.join(support, "recent.json"), json.dumps([{"kind": "folder", "path": folder, "bookmark": ""}]))
    program = Program(desktop, PROGRAM)
    try:
        window = program.wait_for_window(TITLE)
        driver = program.connect()
        driver.execute("window.Quillmarsh.menuRun('m1.3.1')")
    except BaseException:
        program.close()
        raise
    return program, window, driver


def start_and_copy_everything(desktop, document, loaded, expected):
    """Starts the program on a document, waits until the page script `loaded`
    gives `expected`, then copies the whole text with the keys a person uses
    (Ctrl+A is the page's Select All: the whole text, not only the lines drawn)."""
    program = Program(desktop, PROGRAM, [document])
    try:
        window = program.wait_for_window(TITLE)
        driver = program.connect()
        wait_until(lambda: driver.execute(loaded) == expected, what="the document loaded")
        driver.execute("document.querySelector('#editor .cm-content').focus()")
        program.activate(window)
        program.key(window, "ctrl+a")
        program.key(window, "ctrl+c")
    except BaseException:
        program.close()
        raise
    return program, window, driver


@contextlib.contextmanager
def editing(name, text):
    """A private desktop with the program started on one document, shown in the
    editor; everything is closed afterwards."""
    desktop = Desktop()
    program = None
    try:
        document = os.path.join(desktop.home, name)
        write(document, text)
        program = Program(desktop, PROGRAM, [document])
        window = program.wait_for_window(TITLE)
        driver = program.connect()
        wait_until(lambda: driver.execute(EDITOR_TEXT) == text, what="the document in the editor")
        yield desktop, program, window, driver, document
    finally:
        if program:
            program.close()
        desktop.close()


def setUpModule():
    if not os.access(PROGRAM, os.X_OK):
        # Failing, not skipping: a missing program must not pass as a green run.
        raise RuntimeError("QUILLMARSH_TEST_PROGRAM does not name the test build of the program")


class Launch:
    """A desktop with the program on it, up to its loaded page."""

    def __init__(self, arguments=(), env=None, connect=True):
        self.desktop = Desktop()
        try:
            self.program = Program(self.desktop, PROGRAM, arguments, env)
            self.window = None
            if connect:
                self.window = self.program.wait_for_window(TITLE)
                self.driver = self.program.connect()
        except BaseException:
            self.close()
            raise

    def close(self):
        program = getattr(self, "program", None)
        if program:
            program.close()
        self.desktop.close()


class LoopbackListener:
    """Counts every connection made to a port on 127.0.0.1."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(16)
        self.port = self.server.getsockname()[1]
        self.connections = 0
        self._lock = threading.Lock()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            with self._lock:
                self.connections += 1
            connection.close()

    def count(self):
        with self._lock:
            return self.connections

    def close(self):
        self.server.close()


class ProgramSession(unittest.TestCase):
    """One running program for the checks that leave it running."""

    @classmethod
    def setUpClass(cls):
        cls.launch = Launch()
        cls.program = cls.launch.program
        cls.desktop = cls.launch.desktop
        cls.window = cls.launch.window
        cls.driver = cls.launch.driver

    @classmethod
    def tearDownClass(cls):
        cls.launch.close()

    def page_box(self):
        """Where the web view's viewport lies on the screen."""
        geometry = self.program.geometry(self.window)
        inner = self.driver.execute("return [window.innerWidth, window.innerHeight]")
        left = geometry["X"] + (geometry["WIDTH"] - inner[0]) // 2
        top = geometry["Y"] + geometry["HEIGHT"] - inner[1]
        return left, top

    def click_page(self, x, y, count=1):
        left, top = self.page_box()
        self.desktop.xdotool("mousemove", "--sync", str(left + x), str(top + y))
        self.desktop.xdotool("click", "--repeat", str(count), "--delay", "80", "1")

    def test_window_shows_the_page(self):
        geometry = self.program.geometry(self.window)
        self.assertEqual((geometry["WIDTH"], geometry["HEIGHT"]), (1280, 820))
        self.assertIn("Open Folder", self.driver.execute("return document.body.innerText"))
        # A blank or unpainted page has one or two colours; text and controls give many.
        self.program.page_picture(self.window, os.path.join(self.desktop.root, "page.png"))

    def test_api_answers_the_page_with_its_token_only(self):
        answer = self.program.fetch("GET", "/api/build")
        self.assertEqual(answer["status"], 200)
        self.assertIn('"name":"Quillmarsh"', answer["body"])
        refused = self.program.fetch("GET", "/api/build", token=False)
        self.assertEqual(refused["status"], 403)
        self.assertIn("missing or wrong token", refused["body"])

    def test_no_network_for_fetches_or_pictures(self):
        listener = LoopbackListener()
        try:
            # The listener is reachable: a load that slipped past the rules would be counted.
            socket.create_connection(("127.0.0.1", listener.port), timeout=5).close()
            wait_until(lambda: listener.count() == 1, what="the listener to count a connection")
            outcomes = self.driver.execute_async("""
                const [port, done] = arguments;
                const results = {};
                const settle = (name, value) => {
                  results[name] = value;
                  if (Object.keys(results).length === 4) done(results);
                };
                for (const scheme of ['http', 'https']) {
                  fetch(`${scheme}://127.0.0.1:${port}/fetch`).then(() => settle(scheme + '-fetch', 'loaded'),
                                                                   () => settle(scheme + '-fetch', 'blocked'));
                  const picture = new Image();
                  picture.onload = () => settle(scheme + '-image', 'loaded');
                  picture.onerror = () => settle(scheme + '-image', 'blocked');
                  picture.src = `${scheme}://127.0.0.1:${port}/picture.png`;
                  document.body.append(picture);
                }
            """, listener.port)
            self.assertEqual(outcomes, {"http-fetch": "blocked", "https-fetch": "blocked",
                                        "http-image": "blocked", "https-image": "blocked"})
            self.assertEqual(listener.count(), 1)
        finally:
            listener.close()

    def insert_link(self, link_id, url):
        """A link over the middle of the page, to be clicked for real."""
        self.driver.execute("""
            const [id, url] = arguments;
            const link = document.createElement('a');
            link.id = id; link.href = url; link.textContent = 'link';
            link.style = 'position:fixed;left:300px;top:200px;width:300px;height:200px;background:#cde;z-index:9';
            document.body.append(link);
        """, link_id, url)

    def remove(self, element_id):
        self.driver.execute("document.getElementById(arguments[0]).remove()", element_id)

    def test_web_links_go_to_the_browser_never_into_the_view(self):
        before = self.program.log_lines().count("link: opening in the browser")
        # A script that sends the page elsewhere is only refused.
        self.driver.execute("location.href = 'https://a.example/by-script'")
        self.insert_link("clicked", "https://a.example/clicked")
        try:
            self.click_page(450, 300)
            wait_until(lambda: "https://a.example/clicked" in self.desktop.browser_calls(),
                       what="the fake browser to get the clicked link")
        finally:
            self.remove("clicked")
        self.assertNotIn("https://a.example/by-script", self.desktop.browser_calls())
        self.assertEqual(self.program.log_lines().count("link: opening in the browser"), before + 1)
        self.assertEqual(self.driver.execute("return location.href"), "lornwick://app/")

    def test_only_the_editors_main_frame_gets_the_message_channel(self):
        frame_state = self.driver.execute_async("""
            const done = arguments[0];
            const frame = document.createElement('iframe');
            frame.id = 'probe-frame';
            frame.onload = () => {
              const inner = frame.contentWindow;
              let posted = 'no error';
              // The page's policy allows no frame content and no eval, so the
              // probe is an empty frame reached from here.
              try {
                inner.webkit.messageHandlers.quillmarsh.postMessage({open: 'https://a.example/from-frame'});
              } catch (error) { posted = error.name; }
              done({channel: typeof inner.webkit, posted, origin: inner.location.origin});
            };
            frame.src = 'about:blank';
            document.body.append(frame);
        """)
        self.remove("probe-frame")
        self.assertEqual(frame_state, {"channel": "undefined", "posted": "TypeError", "origin": "null"})
        # The main frame's channel works, and its message arrives after anything the frame could have sent.
        self.driver.execute("window.webkit.messageHandlers.quillmarsh.postMessage({open: 'https://a.example/main'})")
        wait_until(lambda: "https://a.example/main" in self.desktop.browser_calls(), what="the main frame's link")
        self.assertNotIn("https://a.example/from-frame", self.desktop.browser_calls())

    def test_page_menus_run_the_page_and_edit_commands_reach_the_view(self):
        self.driver.execute("""
            window.menuCalls = [];
            window.pageMenuRun = window.Quillmarsh.menuRun;
            window.Quillmarsh.menuRun = (id) => window.menuCalls.push(id);
            window.webkit.messageHandlers.quillmarsh.postMessage({menus: [
              {label: 'Probe', items: [
                {label: 'Ping', id: 'm9.1', key: 'Cmd+Shift+K'},
                {label: 'Not an id', id: 'save', key: 'Cmd+Shift+J'},
                {label: 'Disabled', id: 'm9.2', key: 'Cmd+Shift+L', enabled: false},
              ]},
              {label: 'Edit', items: [{label: 'Undo', id: 'm9.3'}]},
            ]});
            const field = document.createElement('input');
            field.id = 'probe-field'; field.value = 'hello world';
            field.style = 'position:fixed;left:300px;top:200px;z-index:9';
            document.body.append(field);
            field.focus();
        """)
        try:
            self.program.activate(self.window)
            for keys in ("ctrl+shift+j", "ctrl+shift+l", "ctrl+shift+k"):
                self.program.key(self.window, keys)
            calls = wait_until(lambda: self.driver.execute("return window.menuCalls.length && window.menuCalls"),
                               what="the page's menuRun to be called")
            self.assertEqual(calls, ["m9.1"])
            # Select All is the web view's own editing command, so the focused field selects its text.
            self.driver.execute("document.getElementById('probe-field').focus()")
            self.program.key(self.window, "ctrl+a")
            selection = wait_until(lambda: self.driver.execute(
                "const f = document.getElementById('probe-field');"
                "return f.selectionEnd - f.selectionStart === f.value.length && [f.selectionStart, f.selectionEnd]"),
                what="the field's text to be selected")
            self.assertEqual(selection, [0, 11])
        finally:
            self.remove("probe-field")
            # The page's own menuRun back, and its menus sent again (it does on every folder check).
            self.driver.execute("window.Quillmarsh.menuRun = window.pageMenuRun; window.Quillmarsh.folderChanged()")

    def window_state(self):
        return self.desktop.run(["xprop", "-id", self.window, "_NET_WM_STATE"], check=False)

    def test_title_strip_moves_and_maximises_the_window(self):
        before = self.program.geometry(self.window)
        # The strip outside the page's buttons belongs to the window.
        x, y = 900, 20
        left, top = self.page_box()
        self.desktop.xdotool("mousemove", "--sync", str(left + x), str(top + y))
        self.desktop.xdotool("mousedown", "1")
        for step in range(1, 7):
            self.desktop.xdotool("mousemove", "--sync", str(left + x + 20 * step), str(top + y + 10 * step))
        self.desktop.xdotool("mouseup", "1")
        moved = wait_until(lambda: (lambda g: g if abs(g["X"] - before["X"] - 120) <= 12 else None)(
            self.program.geometry(self.window)), what="the window to follow the drag")
        self.assertLessEqual(abs(moved["Y"] - before["Y"] - 60), 12)

        self.click_page(x, y, count=2)
        wait_until(lambda: "MAXIMIZED_VERT" in self.window_state(), what="the window to maximise")
        self.click_page(x, y, count=2)
        wait_until(lambda: "MAXIMIZED_VERT" not in self.window_state(), what="the window to be restored")

        # A press inside a hole is the page's: its Recent button opens its list.
        self.click_page(*self.driver.execute(
            "const b = document.getElementById('recent').getBoundingClientRect(); return [b.x + 10, b.y + 10]"))
        wait_until(lambda: self.driver.execute("return !document.getElementById('recent-list').hidden"),
                   what="the page to get the click on its button")
        self.driver.execute("document.getElementById('recent-list').hidden = true")

    def dialog(self):
        return wait_until(lambda: next((w for w in self.program.windows() if w != self.window), None),
                          what="the page's dialog")

    def test_page_dialogs_are_modal_alerts_that_answer_the_page(self):
        for keys, expected in (("Return", True), ("Escape", False)):
            self.driver.execute("window.dialogAnswer = null; setTimeout(() => { window.dialogAnswer = confirm('Sure?'); })")
            self.program.key(self.dialog(), keys)
            answer = wait_until(lambda: self.driver.execute(
                "return window.dialogAnswer === null ? null : [window.dialogAnswer]"), what="the confirm's answer")
            self.assertEqual(answer, [expected])
        self.driver.execute("window.alertDone = false; setTimeout(() => { alert('Done.'); window.alertDone = true; })")
        self.program.key(self.dialog(), "Return")
        wait_until(lambda: self.driver.execute("return window.alertDone"), what="the alert to return")
        wait_until(lambda: self.program.windows() == [self.window], what="the dialogs to close")

    def test_becoming_active_asks_the_page_to_recheck_its_folder(self):
        self.driver.execute("window.folderChecks = 0; window.Quillmarsh.folderChanged = () => window.folderChecks++")
        self.desktop.xdotool("windowminimize", "--sync", self.window)
        self.program.activate(self.window)
        wait_until(lambda: self.driver.execute("return window.folderChecks"), what="the folder check")


class EditingSession(unittest.TestCase):
    """A person opens a folder, edits a document and saves it, while another program changes it."""

    def test_open_edit_save_and_settle_changes_made_elsewhere(self):
        desktop = Desktop()
        program = None
        try:
            folder = os.path.join(desktop.home, "Notes")
            os.makedirs(folder)
            document = os.path.join(folder, "plan.md")
            write(document, "# Plan\n")
            program, window, driver = start_on_a_recent_folder(desktop, folder)
            wait_until(lambda: driver.execute("return document.querySelector('#tree li[data-path=\"plan.md\"]') !== null"),
                       what="the folder's documents in the tree")
            driver.execute("document.querySelector('#tree li[data-path=\"plan.md\"]').click()")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Plan\n", what="the document in the editor")

            type_at_end(program, window, "Day one.")
            program.key(window, "ctrl+s")
            wait_until(lambda: read(document) == "# Plan\nDay one.", what="the saved text on disk")
            wait_until(lambda: not driver.execute(SHOWN_TAB_DIRTY), what="the tab to show it is saved")

            # Another program changes the document under unsaved edits: nothing is
            # saved over it until the person chooses, here Overwrite (keep mine).
            type_at_end(program, window, " Two.")
            wait_until(lambda: driver.execute(SHOWN_TAB_DIRTY), what="the unsaved marker")
            write(document, "# Plan\nChanged elsewhere.\n")
            program.key(window, "ctrl+s")
            notice = wait_until(lambda: (lambda n: n if n and "was not saved" in n["text"] else None)(driver.execute(NOTICE)),
                                what="the conflict notice")
            self.assertEqual(notice["choices"], ["reload", "overwrite", "compare"])
            self.assertEqual(read(document), "# Plan\nChanged elsewhere.\n")
            click_choice(driver, "#notice", "overwrite")
            wait_until(lambda: read(document) == "# Plan\nDay one. Two.", what="my text saved over theirs")
            backups = os.path.join(desktop.data, "Quillmarsh", "Backups")
            self.assertTrue(any("Changed elsewhere." in read(os.path.join(root, name))
                                for root, _, names in os.walk(backups) for name in names))

            # Again, and this time Compare shows both texts with the differences
            # marked, and Reload (take theirs) from there replaces mine.
            type_at_end(program, window, " Three.")
            wait_until(lambda: driver.execute(SHOWN_TAB_DIRTY), what="the unsaved marker")
            write(document, "# Plan\nTheirs.\n")
            program.key(window, "ctrl+s")
            wait_until(lambda: (lambda n: n and "was not saved" in n["text"])(driver.execute(NOTICE)), what="the conflict notice")
            click_choice(driver, "#notice", "compare")
            marked = wait_until(lambda: driver.execute(
                "const d = document.querySelector('#dialog-layer .dialog'); return d && d.querySelector('.compare') && "
                "{mine: [...d.querySelectorAll('.changed-mine')].map(c => c.textContent), "
                " theirs: [...d.querySelectorAll('.changed-theirs')].map(c => c.textContent)}"), what="the comparison")
            self.assertEqual(marked, {"mine": ["Day one. Two. Three."], "theirs": ["Theirs.", ""]})
            click_choice(driver, "#dialog-layer .dialog", "reload")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Plan\nTheirs.\n", what="their text in the editor")
            self.assertFalse(driver.execute(SHOWN_TAB_DIRTY))
            self.assertIsNone(driver.execute(NOTICE))
            self.assertEqual(read(document), "# Plan\nTheirs.\n")

            # A clean tab follows changes made elsewhere without asking.
            write(document, "# Plan\nFrom elsewhere.\n")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Plan\nFrom elsewhere.\n", what="the quiet reload")
            self.assertIsNone(driver.execute(NOTICE))

            # A new document in the folder shows up in the tree without asking.
            write(os.path.join(folder, "ideas.md"), "# Ideas\n")
            wait_until(lambda: driver.execute("return document.querySelector('#tree li[data-path=\"ideas.md\"]') !== null"),
                       what="the new document in the tree")

            # Deleted elsewhere: the tab stays, marked, and says how to keep the text.
            os.remove(document)
            notice = wait_until(lambda: driver.execute(NOTICE), what="the notice of the deleted document")
            self.assertEqual(notice["kind"], "missing")
            self.assertTrue(driver.execute("return document.querySelector('#tabs .tab.active.missing') !== null"))
            self.assertEqual(driver.execute(EDITOR_TEXT), "# Plan\nFrom elsewhere.\n")
        finally:
            if program:
                program.close()
            desktop.close()


class AnotherFolderOpened(unittest.TestCase):
    def test_a_tab_of_the_last_folder_never_saves_into_the_new_one(self):
        desktop = Desktop()
        program = None
        try:
            first = os.path.join(desktop.home, "First")
            second = os.path.join(desktop.home, "Second")
            for folder in (first, second):
                os.makedirs(folder)
                write(os.path.join(folder, "plan.md"), f"# {os.path.basename(folder)}\n")
            support = os.path.join(desktop.data, "Quillmarsh")
            os.makedirs(support, exist_ok=True)
            write(os.path.join(support, "recent.json"),
                  '[{"kind": "folder", "path": "%s", "bookmark": ""}, {"kind": "folder", "path": "%s", "bookmark": ""}]'
                  % (first, second))
            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            driver.execute("window.Quillmarsh.menuRun('m1.3.1')")
            wait_until(lambda: driver.execute("return document.querySelector('#tree li[data-path=\"plan.md\"]') !== null"),
                       what="the first folder's document")
            driver.execute("document.querySelector('#tree li[data-path=\"plan.md\"]').click()")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# First\n", what="the document in the editor")
            type_at_end(program, window, "Edited.")

            items = json.loads(program.fetch("GET", "/api/recent")["body"])["items"]
            index = next(item["index"] for item in items if item.get("path") == second)
            driver.execute(f"window.Quillmarsh.menuRun('m1.3.{index + 1}')")
            wait_until(lambda: driver.execute("return document.getElementById('folder-name').textContent") == "Second",
                       what="the second folder")
            # The same relative path now names the second folder's document: Save asks where instead.
            program.key(window, "ctrl+s")
            panel = wait_until(lambda: program.windows("^Save the document as$"), what="the save panel")[0]
            program.key(panel, "Escape")
            wait_until(lambda: program.windows() == [window], what="the panel to close")
            self.assertEqual(read(os.path.join(second, "plan.md")), "# Second\n")
            self.assertEqual(read(os.path.join(first, "plan.md")), "# First\n")
            self.assertTrue(driver.execute(SHOWN_TAB_DIRTY))
        finally:
            if program:
                program.close()
            desktop.close()


class PanelsSession(unittest.TestCase):
    """The desktop's file choosers behind the page's Open Folder, Open File and Save As."""

    def panel(self, program, window, title):
        found = wait_until(lambda: program.windows(title), what=f"the panel {title!r}")
        self.assertNotIn(window, found)
        return found[0]

    def choose(self, program, panel, path, accept="alt+o"):
        """Types a path into the panel and presses its default button (by its
        mnemonic: Return may only take a completion). A file chooser that is
        still filling its view can drop the typed text, so the panel gets the
        whole entry again while it stays open."""
        for _ in range(3):
            if panel not in program.windows():
                return
            program.key(panel, "ctrl+l")
            program.key(panel, "ctrl+a")
            program.desktop.xdotool("type", "--delay", "10", path)
            program.key(panel, accept)
            try:
                wait_until(lambda: panel not in program.windows(), timeout=5, what="the panel to close")
                return
            except AssertionError:
                continue
        self.fail("the panel did not take the path")

    def test_choosing_a_folder_a_document_and_a_place_to_save(self):
        launch = Launch()
        program, window, driver = launch.program, launch.window, launch.driver
        desktop = launch.desktop
        try:
            notes = os.path.join(desktop.home, "Notes")
            other = os.path.join(desktop.home, "Other")
            os.makedirs(notes)
            os.makedirs(other)
            with open(os.path.join(notes, "a.md"), "w") as out:
                out.write("# A\n")
            with open(os.path.join(other, "b.md"), "w") as out:
                out.write("# B\n")
            click = "document.getElementById(arguments[0]).click()"

            # Cancelling changes nothing.
            driver.execute(click, "open-folder")
            program.key(self.panel(program, window, "^Choose a folder of Markdown documents for Quillmarsh$"), "Escape")
            wait_until(lambda: program.windows() == [window], what="the panel to close")
            self.assertEqual(driver.execute("return document.getElementById('folder-name').textContent"),
                             "No folder open")

            driver.execute(click, "open-folder")
            self.choose(program, self.panel(program, window, "^Choose a folder of Markdown documents for Quillmarsh$"),
                        notes + "/")
            wait_until(lambda: driver.execute("return document.getElementById('tree').innerText.trim()") == "a.md",
                       what="the chosen folder's documents")

            driver.execute(click, "open-file")
            self.choose(program, self.panel(program, window, "^Choose a Markdown document to open in Quillmarsh$"),
                        os.path.join(other, "b.md"))
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# B\n",
                       what="the chosen document in the editor")

            # Saved under a name without an extension: the document gets ".md".
            driver.execute(click, "save-as")
            self.choose(program, self.panel(program, window, "^Save the document as$"),
                        os.path.join(notes, "copy"), accept="alt+s")
            copy = os.path.join(notes, "copy.md")
            wait_until(lambda: os.path.exists(copy) and read(copy) == "# B\n", what="the copy on disk")
        finally:
            launch.close()


class DocumentsFromTheCommandLine(unittest.TestCase):
    def test_a_document_given_at_launch_opens_in_the_editor(self):
        folder = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"quillmarsh-e2e-doc-{os.getpid()}")
        os.makedirs(folder, exist_ok=True)
        document = os.path.join(folder, "notes.md")
        with open(document, "w") as out:
            out.write("# Notes\n\nGiven on the command line.\n")
        launch = Launch(arguments=[document, os.path.join(folder, "missing.md")])
        try:
            text = wait_until(lambda: launch.driver.execute(EDITOR_TEXT),
                              what="the document to reach the editor")
            self.assertEqual(text, "# Notes\n\nGiven on the command line.\n")
            self.assertIn("finder: 1 to open, 1 left out", launch.program.log_lines())
        finally:
            launch.close()
            os.remove(document)
            os.rmdir(folder)


class CopyAndPasteALargeDocument(unittest.TestCase):
    def test_select_all_copy_and_paste_reproduce_a_megabyte_whole(self):
        desktop = Desktop()
        program = None
        try:
            lines = [f"line {k:05} of the long document, with words enough to fill it" for k in range(16200)]
            text = "\n".join(lines) + "\n"
            self.assertGreater(len(text), 1_000_000)
            document = os.path.join(desktop.home, "long.md")
            write(document, text)
            words = len(re.findall(r"[A-Za-z0-9][A-Za-z0-9_'-]*", text))
            expected = [str(words), str(len(text) - text.count("\n"))]
            counts = "const c = document.getElementById('status-counts').dataset; return [c.words, c.characters]"

            program, window, driver = start_and_copy_everything(desktop, document, counts, expected)
            program.key(window, "ctrl+n")
            wait_until(lambda: driver.execute("return document.querySelectorAll('#tabs .tab').length") == 2,
                       what="a new document")
            program.key(window, "ctrl+v")
            wait_until(lambda: driver.execute(counts) == expected, timeout=60, what="the whole text pasted")

            # Switching tabs with the keys keeps each one's text.
            program.key(window, "ctrl+shift+Tab")
            wait_until(lambda: driver.execute("return document.querySelector('#tabs .tab.active .tab-name').textContent")
                       == "long.md", what="the first tab")
            program.key(window, "ctrl+Tab")
            wait_until(lambda: driver.execute(SHOWN_TAB_DIRTY) and driver.execute(counts) == expected,
                       what="the pasted text back in its tab")
        finally:
            if program:
                program.close()
            desktop.close()


class EditorKeys(unittest.TestCase):
    def test_lists_continue_and_the_shared_keys_reach_the_editor(self):
        with editing("keys.md", "# Keys\n") as (desktop, program, window, driver, document):
            type_at_end(program, window, "* one")
            program.key(window, "Return")
            desktop.xdotool("type", "--delay", "20", "two")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Keys\n* one\n* two", what="the list to go on")

            # Undo, Redo and Find share their keys with the program's own: the editor gets them.
            program.key(window, "ctrl+z")
            wait_until(lambda: driver.execute(EDITOR_TEXT) != "# Keys\n* one\n* two", what="the undo")
            program.key(window, "ctrl+shift+z")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Keys\n* one\n* two", what="the redo")
            program.key(window, "ctrl+f")
            options = wait_until(lambda: driver.execute(
                "const p = document.querySelector('#editor .cm-search'); return p && "
                "[...p.querySelectorAll('input[type=checkbox]')].map(b => b.name)"), what="the find panel")
            self.assertEqual(sorted(options), ["case", "re", "word"])


class PreviewSession(unittest.TestCase):
    HOSTILE = """# Title

| a | b |
|---|---|
| 1 | 2 |

- [x] done
- [ ] to do

<script>window.previewRan = 1</script>
<iframe src="https://a.example/frame"></iframe>
<img src="https://a.example/track.png" onerror="window.previewRan = 2" alt="remote">
<a href="javascript:window.previewRan = 3">script link</a>
<p onclick="window.previewRan = 4" style="color: red">handler</p>

[the web](https://a.example/page)
"""

    def test_preview_renders_sanitized_follows_typing_and_sends_links_to_the_browser(self):
        with editing("hostile.md", self.HOSTILE) as (desktop, program, window, driver, document):
            driver.execute("window.Quillmarsh.menuRun('m3.6')")
            wait_until(lambda: driver.execute("return document.querySelector('#preview h1') !== null"), what="the preview")
            found = driver.execute("""
                const p = document.getElementById('preview');
                const all = [...p.querySelectorAll('*')];
                return {
                  heading: p.querySelector('h1').textContent,
                  cells: [...p.querySelectorAll('td')].map(c => c.textContent),
                  boxes: [...p.querySelectorAll('li input[type=checkbox]')].map(b => b.checked),
                  scripts: p.querySelectorAll('script, iframe').length,
                  handlers: all.filter(e => [...e.attributes].some(a => a.name.startsWith('on') || a.name === 'style')).length,
                  scriptLinks: [...p.querySelectorAll('a')].filter(a => /^javascript:/i.test(a.getAttribute('href') || '')).length,
                  remotePictures: [...p.querySelectorAll('img')].filter(i => i.hasAttribute('src')).length,
                  ran: window.previewRan || 0,
                };""")
            self.assertEqual(found, {"heading": "Title", "cells": ["1", "2"], "boxes": [True, False], "scripts": 0,
                                     "handlers": 0, "scriptLinks": 0, "remotePictures": 0, "ran": 0})

            # Typing reaches the preview.
            type_at_end(program, window, "Typed later.")
            wait_until(lambda: "Typed later." in driver.execute("return document.getElementById('preview').textContent"),
                       what="the typed text in the preview")

            # A web link goes to the browser and the page stays where it is.
            driver.execute("setTimeout(() => [...document.querySelectorAll('#preview a')]"
                           ".find(a => a.textContent === 'the web').click())")
            wait_until(lambda: "https://a.example/page" in desktop.browser_calls(), what="the link in the browser")
            self.assertEqual(driver.execute("return location.href"), "lornwick://app/")


class PreviewOfALargeDocument(unittest.TestCase):
    def test_preview_alone_reads_to_the_end_and_scrolling_it_moves_the_editor(self):
        desktop = Desktop()
        program = None
        try:
            # Over a megabyte: the preview renders only parts of it. The reference
            # in the last section is defined at the top, far from any part rendered there.
            sections = [f"## Section {k}\n\n" + f"Paragraph {k} of the long document, with words enough to fill it.\n" * 30
                        for k in range(520)]
            text = "[home]: https://home.example/\n\n# Long\n\n" + "\n".join(sections) + \
                "\n## The last section\n\nBack [home].\n\nThe end.\n"
            self.assertGreater(len(text), 1_000_000)
            document = os.path.join(desktop.home, "long.md")
            write(document, text)
            program = Program(desktop, PROGRAM, [document])
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute("return document.querySelector('#tabs .tab.active .tab-name')?.textContent")
                       == "long.md", what="the document in a tab")

            driver.execute("window.Quillmarsh.menuRun('m3.7')")
            wait_until(lambda: driver.execute("return document.querySelector('#preview h2') !== null"), what="the preview alone")
            self.assertTrue(driver.execute("return getComputedStyle(document.getElementById('editor')).display === 'none'"))
            # The scroll bar dragged to the very end, as a person would.
            driver.execute("const p = document.getElementById('preview'); p.scrollTop = p.scrollHeight")
            last = ("const p = document.getElementById('preview'); const box = p.getBoundingClientRect();"
                    "const h = [...p.querySelectorAll('h2')].find(e => e.textContent === 'The last section');"
                    "if (!h) return null; const r = h.getBoundingClientRect();"
                    "const link = h.nextElementSibling && h.nextElementSibling.querySelector('a');"
                    "return {shown: r.top >= box.top && r.bottom <= box.bottom, link: link && link.getAttribute('href')}")
            wanted = {"shown": True, "link": "https://home.example/"}
            wait_until(lambda: driver.execute(last) == wanted, timeout=30, what="the last heading rendered in view")

            # Beside the text again: the editor shows where the preview was read to.
            driver.execute("window.Quillmarsh.menuRun('m3.6')")
            wait_until(lambda: "Paragraph 519 of" in driver.execute(EDITOR_TEXT), timeout=30,
                       what="the editor at the preview's place in the last long section")
            # The preview follows the editor there.
            wait_until(lambda: driver.execute("return [...document.querySelectorAll('#preview h2')]"
                                              ".some(h => h.textContent === 'Section 519')"), timeout=30,
                       what="the preview beside the editor's place")
            # Scrolling the preview with its keys moves the editor with it, and neither pulls the other back.
            driver.execute("document.getElementById('preview').focus()")
            program.activate(window)
            program.key(window, "Home")
            wait_until(lambda: driver.execute("return document.querySelector('#editor .cm-scroller').scrollTop") == 0,
                       timeout=30, what="the editor at the top")
            wait_until(lambda: driver.execute("return document.querySelector('#preview h1')?.textContent") == "Long",
                       timeout=30, what="the preview's start rendered")
            self.assertEqual(driver.execute("return document.getElementById('preview').scrollTop"), 0)
        finally:
            if program:
                program.close()
            desktop.close()


FOCUSED = ("const e = document.activeElement; return e && {tag: e.tagName, id: e.id, role: e.getAttribute('role'),"
           " path: e.dataset.path || e.dataset.folder || null,"
           " choice: e.dataset.choice || null, selected: e.getAttribute('aria-selected'), expanded: e.getAttribute('aria-expanded'),"
           " inEditor: !!e.closest('#editor'), name: (e.querySelector('.tab-name') || {}).textContent || null}")


class KeyboardAlone(unittest.TestCase):
    def press_until(self, program, window, key, wanted, what, limit=12):
        """Presses a key until the focused element is as wanted; a bounded number of times."""
        for _ in range(limit):
            focused = program.driver.execute(FOCUSED)
            if wanted(focused):
                return focused
            before = focused
            program.key(window, key)
            wait_until(lambda: program.driver.execute(FOCUSED) != before, what=f"{key} to move the focus")
        self.fail(f"{what}: not reached with {limit} presses of {key}; focused: {program.driver.execute(FOCUSED)}")

    def test_tree_tabs_and_a_dialog_with_the_keys_alone(self):
        desktop = Desktop()
        program = None
        try:
            folder = os.path.join(desktop.home, "Notes")
            os.makedirs(os.path.join(folder, "trips"))
            write(os.path.join(folder, "alpha.md"), "# Alpha\n")
            write(os.path.join(folder, "trips", "rome.md"), "# Rome\n")
            program, window, driver = start_on_a_recent_folder(desktop, folder)
            wait_until(lambda: driver.execute("return document.querySelectorAll('#tree li').length") == 2,
                       what="the folder in the tree")
            program.activate(window)

            # Tab reaches the tree; arrows move in it, Right opens a folder, Enter opens a document.
            self.press_until(program, window, "Tab", lambda f: f and f["role"] == "treeitem", "the tree")
            focused = self.press_until(program, window, "Down", lambda f: f["path"] == "trips", "the folder")
            self.assertEqual(focused["expanded"], "false")
            program.key(window, "Right")
            wait_until(lambda: driver.execute(FOCUSED)["expanded"] == "true", what="the folder opened")
            self.press_until(program, window, "Down", lambda f: f["path"] == "trips/rome.md", "the document in the folder")
            program.key(window, "Return")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Rome\n" and driver.execute(FOCUSED)["inEditor"],
                       what="the document open, the keys in its text")

            # Escape then Shift+Tab leaves the text: the tab strip, then the tree again.
            program.key(window, "Escape")
            program.key(window, "shift+Tab")
            self.assertEqual(wait_until(lambda: driver.execute(FOCUSED)["role"] == "tab" and driver.execute(FOCUSED),
                                        what="the tab strip")["selected"], "true")
            program.key(window, "shift+Tab")
            wait_until(lambda: driver.execute(FOCUSED)["role"] == "treeitem", what="the tree again")
            self.press_until(program, window, "Down", lambda f: f["path"] == "alpha.md", "the other document")
            program.key(window, "Return")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Alpha\n", what="the other document open")

            # The tabs: arrows show the neighbour and keep the keys on the strip.
            program.key(window, "Escape")
            program.key(window, "shift+Tab")
            wait_until(lambda: driver.execute(FOCUSED)["name"] == "alpha.md", what="the shown tab focused")
            program.key(window, "Left")
            wait_until(lambda: driver.execute(FOCUSED)["name"] == "rome.md" and driver.execute(EDITOR_TEXT) == "# Rome\n",
                       what="the tab on the left shown")
            program.key(window, "Right")
            wait_until(lambda: driver.execute(FOCUSED)["name"] == "alpha.md" and driver.execute(EDITOR_TEXT) == "# Alpha\n",
                       what="the tab on the right shown")

            # A dialog: the keys go into it, stay there, Escape cancels, and they come back.
            program.key(window, "Return")
            wait_until(lambda: driver.execute(FOCUSED)["inEditor"], what="the keys in the text")
            program.key(window, "ctrl+End")
            desktop.xdotool("type", "--delay", "20", "More.")
            wait_until(lambda: driver.execute(SHOWN_TAB_DIRTY), what="the unsaved edit")
            program.key(window, "ctrl+w")
            dialog = "const d = document.querySelector('#dialog-layer .dialog'); return d && [d.getAttribute('role'), d.getAttribute('aria-modal')]"
            self.assertEqual(wait_until(lambda: driver.execute(dialog), what="the question"), ["alertdialog", "true"])
            self.assertEqual(wait_until(lambda: driver.execute(FOCUSED)["choice"], what="the keys in the dialog"), "save")
            for expected in ("discard", "cancel", "save", "discard"):
                before = driver.execute(FOCUSED)
                program.key(window, "Tab")
                wait_until(lambda: driver.execute(FOCUSED) != before, what="Tab inside the dialog")
                self.assertEqual(driver.execute(FOCUSED)["choice"], expected)
            program.key(window, "Escape")
            wait_until(lambda: driver.execute(dialog) is None and driver.execute(FOCUSED)["inEditor"],
                       what="the dialog gone and the keys back in the text")
            self.assertEqual(driver.execute("return document.querySelectorAll('#tabs .tab').length"), 2)

            # Again, and this time Don't Save, chosen with the keys.
            program.key(window, "ctrl+w")
            wait_until(lambda: driver.execute(FOCUSED)["choice"] == "save", what="the question again")
            program.key(window, "shift+Tab")
            program.key(window, "shift+Tab")
            wait_until(lambda: driver.execute(FOCUSED)["choice"] == "discard", what="Don't Save focused")
            program.key(window, "Return")
            wait_until(lambda: driver.execute("return document.querySelectorAll('#tabs .tab').length") == 1,
                       what="the tab closed")
            self.assertEqual(read(os.path.join(folder, "alpha.md")), "# Alpha\n")
        finally:
            if program:
                program.close()
            desktop.close()


class QuickOpenInALargeFolder(unittest.TestCase):
    def test_quick_open_finds_one_document_among_two_thousand(self):
        desktop = Desktop()
        program = None
        try:
            folder = os.path.join(desktop.home, "Archive")
            for k in range(2000):
                sub = os.path.join(folder, f"year{k % 20}")
                os.makedirs(sub, exist_ok=True)
                write(os.path.join(sub, f"note-{k:04}.md"), f"# Note {k}\n")
            os.makedirs(os.path.join(folder, "deep", "inside"))
            write(os.path.join(folder, "deep", "inside", "meeting-minutes.md"), "# Minutes\n")
            program, window, driver = start_on_a_recent_folder(desktop, folder)
            wait_until(lambda: driver.execute("return document.querySelectorAll('#tree li').length > 0"),
                       what="the folder in the tree")
            program.activate(window)
            program.key(window, "ctrl+p")
            wait_until(lambda: driver.execute("return document.activeElement && document.activeElement.id === 'quick-open-field'"),
                       what="the quick open field")
            desktop.xdotool("type", "--delay", "30", "meetmin")
            wait_until(lambda: driver.execute(
                "const first = document.querySelector('#quick-open-list li'); return first && first.dataset.path")
                == "deep/inside/meeting-minutes.md", what="the document first in the list")
            program.key(window, "Return")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Minutes\n", what="the document in the editor")
            # The tree opens the folders down to it.
            self.assertTrue(driver.execute(
                "return document.querySelector('#tree li.current[data-path=\"deep/inside/meeting-minutes.md\"]') !== null"))
        finally:
            if program:
                program.close()
            desktop.close()


class QuitWithAnUnsavedTab(unittest.TestCase):
    def test_cancel_keeps_the_tab_and_dont_save_quits(self):
        with editing("draft.md", "# Draft\n") as (desktop, program, window, driver, document):
            type_at_end(program, window, "Unsaved.")
            wait_until(lambda: driver.execute(SHOWN_TAB_DIRTY), what="the unsaved marker")
            dialog = "return document.querySelector('#dialog-layer .dialog') !== null"

            program.key(window, "ctrl+q")
            wait_until(lambda: driver.execute(dialog), what="the question about unsaved changes")
            click_choice(driver, "#dialog-layer .dialog", "cancel")
            wait_until(lambda: not driver.execute(dialog), what="the question to close")
            self.assertTrue(program.is_running())
            self.assertEqual(driver.execute(EDITOR_TEXT), "# Draft\nUnsaved.")
            self.assertNotIn("quit: page closed its tabs", program.log_lines())

            program.key(window, "ctrl+q")
            wait_until(lambda: driver.execute(dialog), what="the question again")
            try:
                click_choice(driver, "#dialog-layer .dialog", "discard")
            except AssertionError:
                pass  # the program may end before WebDriver answers; the exit below is what counts
            self.assertEqual(program.wait_for_exit(), 0)
            self.assertEqual([line for line in program.log_lines() if line.startswith("quit: ")][-2:], QUIT_LINES[-2:])
            self.assertEqual(read(document), "# Draft\n")


class QuitWithControlQ(unittest.TestCase):
    def test_the_page_closes_its_tabs_then_the_program_ends(self):
        launch = Launch()
        try:
            launch.program.key(launch.window, "ctrl+q")
            self.assertEqual(launch.program.wait_for_exit(), 0)
            self.assertEqual([line for line in launch.program.log_lines() if line.startswith("quit: ")], QUIT_LINES)
        finally:
            launch.close()


class QuitWithTheCloseButton(unittest.TestCase):
    def test_the_close_button_asks_the_page_like_quit(self):
        launch = Launch()
        try:
            geometry = launch.program.geometry(launch.window)
            inner_height = launch.driver.execute("return window.innerHeight")
            row = geometry["HEIGHT"] - inner_height
            # The close button ends the row above the page.
            launch.desktop.xdotool("mousemove", "--sync", str(geometry["X"] + geometry["WIDTH"] - 27),
                                   str(geometry["Y"] + row // 2))
            launch.desktop.xdotool("click", "1")
            self.assertEqual(launch.program.wait_for_exit(), 0)
            self.assertEqual([line for line in launch.program.log_lines() if line.startswith("quit: ")], QUIT_LINES)
        finally:
            launch.close()


class QuitWhenTheSystemAsks(unittest.TestCase):
    def test_a_termination_signal_asks_the_page_like_quit(self):
        launch = Launch()
        try:
            launch.program.process.terminate()
            self.assertEqual(launch.program.wait_for_exit(), 0)
            self.assertEqual([line for line in launch.program.log_lines() if line.startswith("quit: ")], QUIT_LINES)
        finally:
            launch.close()


class QuitAnsweredAtOnce(unittest.TestCase):
    def test_the_pages_answer_is_logged_before_the_program_ends(self):
        launch = Launch()
        try:
            # The page's quit posts /api/quit and waits for its answer before it
            # returns: the program ends before the quit query's answer arrives.
            launch.driver.execute(
                "window.Quillmarsh.quit = () => {"
                "  const request = new XMLHttpRequest();"
                "  request.open('POST', '/api/quit', false);"
                "  const token = document.querySelector('meta[name=\"quillmarsh-token\"]').content;"
                "  request.setRequestHeader('X-Quillmarsh-Token', token);"
                "  request.send();"
                "}")
            launch.program.key(launch.window, "ctrl+q")
            self.assertEqual(launch.program.wait_for_exit(), 0)
            lines = launch.program.log_lines()
            self.assertEqual([line for line in lines if line.startswith("quit: ")], QUIT_LINES)
            self.assertLess(lines.index("quit: page answered asked"), len(lines) - 1)
        finally:
            launch.close()


class WindowFrameRemembered(unittest.TestCase):
    def test_size_and_place_come_back_at_the_next_launch(self):
        desktop = Desktop()
        program = None
        try:
            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            program.connect()
            desktop.xdotool("windowsize", "--sync", window, "1000", "700")
            desktop.xdotool("windowmove", "--sync", window, "100", "80")
            wanted = {"X": 100, "Y": 80, "WIDTH": 1000, "HEIGHT": 700}
            wait_until(lambda: program.geometry(window) == wanted, what="the window to take its new frame")
            program.key(window, "ctrl+q")
            program.wait_for_exit()
            program.close()

            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            wait_until(lambda: program.geometry(window) == wanted, what="the remembered frame")
        finally:
            if program:
                program.close()
            desktop.close()


class QuitWithoutThePagesHelp(unittest.TestCase):
    def test_the_fallback_alert_cancels_or_quits_anyway(self):
        launch = Launch()
        program = launch.program
        try:
            launch.driver.execute("delete window.Quillmarsh.quit")
            program.key(launch.window, "ctrl+q")
            alert = wait_until(lambda: next((w for w in program.windows() if w != launch.window), None),
                               what="the fallback alert")
            program.wait_for_log("quit: page answered no-page")
            program.key(alert, "Escape")
            program.wait_for_log("quit: fallback alert -> cancel")
            wait_until(lambda: program.windows() == [launch.window], what="the alert to close")
            self.assertTrue(program.is_running())

            program.key(launch.window, "ctrl+q")
            alert = wait_until(lambda: next((w for w in program.windows() if w != launch.window), None),
                               what="the fallback alert again")
            program.key(alert, "alt+q")
            self.assertEqual(program.wait_for_exit(), 0)
            quit_lines = [line for line in program.log_lines() if line.startswith("quit: ")]
            self.assertEqual(quit_lines, [
                "quit: requested, asking the page", "quit: page answered no-page", "quit: fallback alert -> cancel",
                "quit: requested, asking the page", "quit: page answered no-page",
                "quit: fallback alert -> quit anyway", "quit: approved, terminating"])
        finally:
            launch.close()


class StartWithoutTheNoNetworkGuard(unittest.TestCase):
    def test_the_editor_is_never_shown_and_the_user_is_told(self):
        desktop = Desktop()
        program = None
        try:
            # A cache folder that cannot exist: the rule list cannot be stored, so it never comes into force.
            blocker = os.path.join(desktop.root, "cache-is-a-file")
            with open(blocker, "w") as out:
                out.write("not a folder")
            program = Program(desktop, PROGRAM, env={"XDG_CACHE_HOME": blocker})
            line = wait_until(lambda: next((l for l in program.log_lines() if l.startswith("rules: ")), None),
                              what="the rules log line")
            self.assertRegex(line, r"^rules: no-network guard failed \(code \d+\); editor not loaded$")
            alert = wait_until(lambda: (program.windows() or [None])[0], what="the start alert")
            self.assertEqual(len(program.windows()), 1)
            self.assertEqual(program.windows(TITLE), [])  # the editor's window never appeared
            program.key(alert, "Return")
            self.assertEqual(program.wait_for_exit(), 0)
            self.assertEqual(program.log_lines()[-1], "quit: approved, terminating")
        finally:
            if program:
                program.close()
            desktop.close()


class SettingsSurviveARestart(unittest.TestCase):
    """A setting changed in the page's settings dialog is applied at once and is
    there again at the next launch."""

    OPEN = "setTimeout(() => window.Quillmarsh.settings())"
    DIALOG = "return !!document.querySelector('#dialog-layer .dialog #setting-theme')"
    THEME = "return document.documentElement.dataset.theme || 'system'"

    def test_theme_and_text_size_chosen_in_the_dialog_come_back(self):
        desktop = Desktop()
        program = None
        try:
            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(self.THEME) == "system", what="the settings read at launch")
            driver.execute(self.OPEN)
            wait_until(lambda: driver.execute(self.DIALOG), what="the settings dialog")
            self.assertEqual(driver.execute("return document.activeElement.id"), "setting-theme")
            # As a person changes a list: its value, then its change event.
            driver.execute("for (const [id, value] of [['setting-theme', 'dark'], ['setting-textSize', 'large']]) {"
                           "  const list = document.getElementById(id); list.value = value;"
                           "  list.dispatchEvent(new Event('change', {bubbles: true})); }")
            wait_until(lambda: driver.execute(self.THEME) == "dark", what="the dark colours at once")
            # Escape closes it, from the keyboard.
            program.activate(window)
            program.key(window, "Escape")
            wait_until(lambda: not driver.execute(self.DIALOG), what="the dialog to close")
            wait_until(lambda: driver.execute("return document.documentElement.dataset.textSize") == "large",
                       what="the larger text")
            program.close()

            program = Program(desktop, PROGRAM)
            program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(self.THEME) == "dark", what="the dark colours after the restart")
            driver.execute(self.OPEN)
            wait_until(lambda: driver.execute(self.DIALOG), what="the settings dialog again")
            self.assertEqual(driver.execute("return ['theme', 'textSize'].map(k => document.getElementById('setting-' + k).value)"),
                             ["dark", "large"])
        finally:
            if program:
                program.close()
            desktop.close()


PICTURES = ("return [...document.querySelectorAll('#preview img')].map(i => ({alt: i.alt, "
            "blob: i.src.startsWith('blob:'), width: i.complete ? i.naturalWidth : 0}))")
def png(width, height):
    """A small red picture in PNG."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    rows = b"".join(b"\x00" + b"\xff\x00\x00" * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


PNG = png(3, 2)


class PicturesInThePreview(unittest.TestCase):
    def test_a_picture_beside_the_document_shows_and_a_withheld_one_after_its_folder_is_allowed(self):
        text = "# Pictures\n\n![one](one.png)\n\n![two](later/two.png)\n"
        with editing("pictured.md", text) as (desktop, program, window, driver, document):
            with open(os.path.join(desktop.home, "one.png"), "wb") as out:
                out.write(PNG)
            driver.execute("window.Quillmarsh.menuRun('m3.6')")
            wait_until(lambda: len(driver.execute(PICTURES)) == 2, what="two pictures in the preview")
            wait_until(lambda: driver.execute(PICTURES)[0] == {"alt": "one", "blob": True, "width": 3},
                       what="the picture beside the document, decoded")
            # The second one cannot be read (here: it is not there yet), which for
            # a document opened by itself may be the folder not allowed yet.
            wait_until(lambda: (driver.execute(NOTICE) or {}).get("choices") == ["allow-images"],
                       what="the notice asking for the folder")
            self.assertIn("\u201C" + os.path.basename(desktop.home) + "\u201D", driver.execute(NOTICE)["text"])
            self.assertFalse(driver.execute(PICTURES)[1]["blob"])
            os.makedirs(os.path.join(desktop.home, "later"))
            with open(os.path.join(desktop.home, "later", "two.png"), "wb") as out:
                out.write(PNG)
            click_choice(driver, "#notice", "allow-images")
            panel = wait_until(lambda: program.windows("^Allow Quillmarsh to show the pictures"), what="the panel")[0]
            # The panel opens on the document's folder; its Allow button has no
            # mnemonic, so Return takes the folder typed (and then the one shown).
            PanelsSession.choose(self, program, panel, desktop.home + "/", accept="Return")
            wait_until(lambda: driver.execute(PICTURES)[1] == {"alt": "two", "blob": True, "width": 3},
                       what="the second picture once its folder is allowed")
            self.assertIsNone(driver.execute(NOTICE))


class UpdateCheckAgainstALocalFeed(unittest.TestCase):
    """Check for Updates against a loopback HTTPS feed the test build is pointed
    at; the feed names a newer version with notes."""

    def test_a_newer_version_is_shown_with_its_notes(self):
        folder = os.path.join(os.environ.get("TMPDIR", "/tmp"), f"quillmarsh-e2e-feed-{os.getpid()}")
        os.makedirs(folder, exist_ok=True)
        server = None
        launch = None
        try:
            run = lambda *command: subprocess.run(command, check=True, capture_output=True, timeout=60)
            ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
            path = lambda name: os.path.join(folder, name)
            run("openssl", "req", "-x509", *ec, "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
                "-subj", "/CN=Quillmarsh Test Authority")
            run("openssl", "req", *ec, "-keyout", path("server.key"), "-out", path("server.csr"), "-subj", "/CN=127.0.0.1")
            write(path("server.ext"), "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
            run("openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                "-CAcreateserial", "-out", path("server.pem"), "-days", "2", "-extfile", path("server.ext"))
            feed_server = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "feed_server.py")
            server = subprocess.Popen([sys.executable, feed_server, path("server.pem"), path("server.key")],
                                      stdout=subprocess.PIPE, text=True)
            port = json.loads(server.stdout.readline())["port"]
            launch = Launch(env={"QUILLMARSH_TEST_UPDATE_FEED": f"https://127.0.0.1:{port}/newer",
                                 "QUILLMARSH_TEST_UPDATE_CA": path("ca.pem")})
            driver = launch.driver
            driver.execute("window.Quillmarsh.menuRun('m5.2')")
            shown = "const d = document.querySelector('#dialog-layer .dialog'); return d && {title: d.querySelector('h2').textContent," \
                    " notes: (d.querySelector('.update-notes') || {}).textContent || null," \
                    " choices: [...d.querySelectorAll('.dialog-buttons button')].map(b => b.textContent)}"
            found = wait_until(lambda: driver.execute(shown), what="the update dialog")
            self.assertEqual(found, {"title": "Version 2.0.0 is available", "notes": "Faster saves.\nFewer surprises.",
                                     "choices": ["Download", "Skip This Version", "Later"]})
            self.assertEqual(json.loads(server.stdout.readline())["path"], "/newer")
        finally:
            if launch:
                launch.close()
            if server:
                server.kill()
                server.wait(10)
                server.stdout.close()
            subprocess.run(["rm", "-rf", folder])


class TemplatesPlugin(unittest.TestCase):
    """The page's templates plugin: a folder of templates chosen in a panel, a
    new document made from one in the open folder (never over a file that is
    there), and the shown document kept as a new template."""

    def answer(self, driver, field, value, choice):
        wait_until(lambda: driver.execute(f"return !!document.getElementById('{field}')"), what=f"the dialog with {field}")
        driver.execute("const input = document.getElementById(arguments[0]); input.value = arguments[1];", field, value)
        click_choice(driver, "#dialog-layer", choice)
        wait_until(lambda: not driver.execute(f"return !!document.getElementById('{field}')"), what="the dialog to close")

    def test_new_documents_from_a_template_and_a_document_kept_as_one(self):
        desktop = Desktop()
        program = None
        try:
            notes = os.path.join(desktop.home, "Notes")
            templates = os.path.join(desktop.home, "Templates")
            os.makedirs(notes)
            os.makedirs(templates)
            write(os.path.join(notes, "Letter.md"), "# Mine\n")
            write(os.path.join(templates, "Letter.md"), "# Dear someone\n\nYours.\n")
            support = os.path.join(desktop.data, "Quillmarsh")
            os.makedirs(support, exist_ok=True)
            write(os.path.join(support, "recent.json"), json.dumps([{"kind": "folder", "path": notes, "bookmark": ""}]))
            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            driver.execute("window.Quillmarsh.menuRun('m1.3.1')")
            wait_until(lambda: "Letter.md" in driver.execute("return document.getElementById('tree').innerText"),
                       what="the open folder")

            driver.execute("window.Quillmarsh.menuRun('m1.13')")
            panel = wait_until(lambda: program.windows("^Allow Quillmarsh to use this folder for Templates$"), what="the panel")[0]
            PanelsSession.choose(self, program, panel, templates + "/", accept="Return")
            wait_until(lambda: "1 found" in driver.execute("return document.getElementById('status-message').textContent"),
                       what="the templates folder taken")

            # A name already taken in the folder: refused, the file there untouched.
            driver.execute("window.Quillmarsh.menuRun('m1.11')")
            self.answer(driver, "template-name", "Letter", "create")
            wait_until(lambda: "already exists" in driver.execute("return document.getElementById('status-message').textContent"),
                       what="the refusal")
            self.assertEqual(read(os.path.join(notes, "Letter.md")), "# Mine\n")

            driver.execute("window.Quillmarsh.menuRun('m1.11')")
            self.answer(driver, "template-name", "Reply", "create")
            wait_until(lambda: driver.execute(EDITOR_TEXT) == "# Dear someone\n\nYours.\n", what="the new document in the editor")
            self.assertEqual(read(os.path.join(notes, "Reply.md")), "# Dear someone\n\nYours.\n")

            type_at_end(program, window, "Kept.")
            driver.execute("window.Quillmarsh.menuRun('m1.12')")
            self.answer(driver, "template-new-name", "Answer", "save")
            kept = os.path.join(templates, "Answer.md")
            wait_until(lambda: os.path.exists(kept) and read(kept) == "# Dear someone\n\nYours.\nKept.",
                       what="the new template on disk")
        finally:
            if program:
                program.close()
            desktop.close()


# The editor's own view of the shown tab, for selections and scroll places.
EDITOR_VIEW = "const view = document.querySelector('#editor .cm-content').cmTile.root.view;"
# The selection, and the line a person sees at the top of the editor.
SHOWN_VIEW = (EDITOR_VIEW + "const main = view.state.selection.main; "
              "const box = view.scrollDOM.getBoundingClientRect(); "
              "const line = document.elementFromPoint(box.left + box.width / 2, box.top + 3)?.closest('.cm-line'); "
              "return {anchor: main.anchor, head: main.head, top: line ? line.textContent : null}")
TAB_NAMES = "return [...document.querySelectorAll('#tabs .tab')].map(t => t.querySelector('.tab-name').textContent)"
ACTIVE_TAB = "const t = document.querySelector('#tabs .tab.active'); return t && t.querySelector('.tab-name').textContent"


def numbered_lines(title, count):
    return f"# {title}\n\n" + "".join(f"{title} line {n}: some words to fill the row.\n" for n in range(1, count + 1))


def recovery_entries(desktop):
    folder = os.path.join(desktop.support, "recovery")
    if not os.path.isdir(folder):
        return {}
    entries = {}
    for name in os.listdir(folder):
        if name.endswith(".json"):
            with contextlib.suppress(OSError, ValueError):
                entries[name[:-5]] = json.loads(read(os.path.join(folder, name)))
    return entries


def show_tab(driver, name):
    driver.execute("const [name] = arguments; [...document.querySelectorAll('#tabs .tab')]"
                   ".find(t => t.querySelector('.tab-name').textContent === name).click()", name)
    wait_until(lambda: driver.execute(ACTIVE_TAB) == name, what=f"{name} shown")


class RecoveryAfterACrash(unittest.TestCase):
    """Edits in two documents, the program killed before saving: the next start
    offers both texts, whole; one goes back into its document as an unsaved
    edit, the other, whose document was deleted meanwhile, into an untitled tab."""

    def test_killed_with_unsaved_edits_the_texts_come_back_whole(self):
        desktop = Desktop()
        program = None
        try:
            desktop.write_settings({"autosaveDefault": False, "startup": "empty"})
            kept = os.path.join(desktop.home, "kept.md")
            deleted = os.path.join(desktop.home, "deleted.md")
            write(kept, numbered_lines("Kept", 400))
            write(deleted, numbered_lines("Deleted", 50))
            program = Program(desktop, PROGRAM, [kept, deleted])
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(TAB_NAMES) == ["kept.md", "deleted.md"], what="both documents open")
            type_at_end(program, window, "Typed into the deleted one.")
            show_tab(driver, "kept.md")
            type_at_end(program, window, "Typed at the end.")
            wanted = {"kept.md": numbered_lines("Kept", 400) + "Typed at the end.",
                      "deleted.md": numbered_lines("Deleted", 50) + "Typed into the deleted one."}
            wait_until(lambda: {entry["name"]: entry["text"] for entry in recovery_entries(desktop).values()} == wanted,
                       what="both unsaved texts kept")
            # Edits after a keep reach the next one: at the top, and a line broken in the middle.
            driver.execute("window.keepsPostedByThePage = 0; const fetchAsBefore = window.fetch;"
                           "window.fetch = (url, init) => { if (String(url).startsWith('/api/recovery') && init?.method === 'POST'"
                           " && !String(url).includes('clear')) window.keepsPostedByThePage++; return fetchAsBefore(url, init); };")
            program.key(window, "ctrl+Home")
            program.desktop.xdotool("type", "--delay", "20", "Top. ")
            for key in ("Down", "Down", "End", "Return"):
                program.key(window, key)
            program.desktop.xdotool("type", "--delay", "20", "Inserted.")
            lines = ("Top. " + wanted["kept.md"]).split("\n")
            wanted["kept.md"] = "\n".join(lines[:3] + ["Inserted."] + lines[3:])
            wait_until(lambda: driver.execute(EDITOR_VIEW + "return view.state.doc.toString()") == wanted["kept.md"],
                       what="the edits in the editor")
            wait_until(lambda: {entry["name"]: entry["text"] for entry in recovery_entries(desktop).values()} == wanted,
                       what="the edits after the first keep kept")
            # The worker sent them: the page's own thread posted no keep.
            self.assertEqual(driver.execute("return window.keepsPostedByThePage"), 0)
            program.process.kill()
            program.wait_for_exit()
            program.close()
            os.remove(deleted)

            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            offered = wait_until(lambda: driver.execute(
                "return [...document.querySelectorAll('#recovery li')].map(li => li.querySelector('.recovery-name').textContent)"),
                what="the recovery notice")
            self.assertEqual(sorted(offered), ["deleted.md", "kept.md"])
            for name in offered:
                driver.execute("const [name] = arguments; [...document.querySelectorAll('#recovery li')]"
                               ".find(li => li.querySelector('.recovery-name').textContent === name)"
                               ".querySelector('button[data-choice=recover]').click()", name)
                wait_until(lambda: driver.execute(ACTIVE_TAB) == name, what=f"{name} recovered")
                self.assertEqual(driver.execute(EDITOR_VIEW + "return view.state.doc.toString()"), wanted[name])
                self.assertTrue(driver.execute(SHOWN_TAB_DIRTY), "a recovered text is not saved yet")
            wait_until(lambda: driver.execute("return document.getElementById('recovery') === null"),
                       what="the notice to go once every text is handled")
            # The gone document came back as an untitled text; the kept one is its own tab, unchanged on disk.
            places = driver.execute("return Object.fromEntries([...document.querySelectorAll('#tabs .tab')]"
                                    ".map(t => [t.querySelector('.tab-name').textContent, t.title]))")
            self.assertEqual(places, {"kept.md": kept, "deleted.md": "deleted.md"})
            self.assertEqual(read(kept), numbered_lines("Kept", 400))
            self.assertFalse(os.path.exists(deleted))

            # From here the entries follow the tabs: saving clears the saved one's.
            show_tab(driver, "kept.md")
            program.key(window, "ctrl+s")
            wait_until(lambda: read(kept) == wanted["kept.md"], what="the recovered text saved")
            wait_until(lambda: sorted(entry["name"] for entry in recovery_entries(desktop).values()) == ["deleted.md"],
                       what="the saved document's entry cleared")
        finally:
            if program:
                program.close()
            desktop.close()


class SessionReopened(unittest.TestCase):
    """With `startup` "reopen", the next start shows the same tabs in the same
    order, the same active tab, and each tab's selection and scroll place."""

    def test_quit_and_start_again_brings_the_work_back_as_it_was(self):
        desktop = Desktop()
        program = None
        try:
            folder = os.path.join(desktop.home, "Notes")
            os.makedirs(folder)
            for name in ("alpha", "beta"):
                write(os.path.join(folder, f"{name}.md"), numbered_lines(name, 600))
            outside = os.path.join(desktop.home, "outside.md")
            write(outside, numbered_lines("outside", 600))
            desktop.write_settings({"autosaveDefault": False, "startup": "reopen"})
            write(os.path.join(desktop.support, "recent.json"),
                  '[{"kind": "folder", "path": "%s", "bookmark": ""}]' % folder)
            program = Program(desktop, PROGRAM, [outside])
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(ACTIVE_TAB) == "outside.md", what="the document of the command line")
            # The document just opened comes first in Open Recent now; the folder after it.
            recent = json.loads(program.fetch("GET", "/api/recent")["body"])["items"]
            folder_item = next(item["index"] for item in recent if item["kind"] == "folder")
            driver.execute(f"window.Quillmarsh.menuRun('m1.3.{folder_item + 1}')")
            for name in ("alpha.md", "beta.md"):
                item = f"#tree li[data-path=\"{name}\"]"
                wait_until(lambda: driver.execute(f"return document.querySelector('{item}') !== null"), what=name)
                driver.execute(f"document.querySelector('{item}').click()")
                wait_until(lambda: driver.execute(ACTIVE_TAB) == name, what=f"{name} shown")
            # Selection ends, and the line scrolled to the top (its number).
            places = {"outside.md": (120, 480, 40), "alpha.md": (9000, 8000, 250), "beta.md": (30, 30, 1)}
            views_before = {}
            for name, (anchor, head, top) in places.items():
                show_tab(driver, name)
                driver.execute(EDITOR_VIEW + "const [anchor, head, top] = arguments; view.dispatch({selection: {anchor, head}});"
                               "view.dispatch({effects: view.constructor.scrollIntoView(view.state.doc.line(top).from,"
                               " {y: 'start', yMargin: 0})})", anchor, head, top)
                line = driver.execute(EDITOR_VIEW + "return view.state.doc.line(arguments[0]).text", top)
                views_before[name] = {"anchor": anchor, "head": head, "top": line}
                wait_until(lambda: driver.execute(SHOWN_VIEW) == views_before[name], what=f"the view of {name}")
            show_tab(driver, "alpha.md")
            tabs_before = driver.execute(TAB_NAMES)
            self.assertEqual(tabs_before, ["outside.md", "alpha.md", "beta.md"])
            self.assertEqual(views_before["alpha.md"]["top"], "alpha line 248: some words to fill the row.")
            # Tabs keep their own places when switched between.
            for name in tabs_before:
                show_tab(driver, name)
                wait_until(lambda: driver.execute(SHOWN_VIEW) == views_before[name], what=f"{name} back where it was")
            show_tab(driver, "alpha.md")
            program.key(window, "ctrl+q")
            self.assertEqual(program.wait_for_exit(), 0)
            program.close()

            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(TAB_NAMES) == tabs_before, what="the same tabs")
            wait_until(lambda: driver.execute(ACTIVE_TAB) == "alpha.md", what="the same active tab")
            wait_until(lambda: driver.execute(SHOWN_VIEW) == views_before["alpha.md"], what="alpha's view")
            for name in tabs_before:
                show_tab(driver, name)
                wait_until(lambda: driver.execute(SHOWN_VIEW) == views_before[name], what=f"the view of {name}")
        finally:
            if program:
                program.close()
            desktop.close()


class AutoSaveAfterAPause(unittest.TestCase):
    """With auto-save on by default, a document saves itself once typing
    pauses; one whose own rule was turned off in the menu does not."""

    def test_the_document_saves_itself_unless_its_rule_is_off(self):
        desktop = Desktop()
        program = None
        try:
            desktop.write_settings({"autosaveDefault": True, "autosaveDelay": 1.5})
            on = os.path.join(desktop.home, "on.md")
            off = os.path.join(desktop.home, "off.md")
            write(on, "# On\n")
            write(off, "# Off\n")
            program = Program(desktop, PROGRAM, [on, off])
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            wait_until(lambda: driver.execute(TAB_NAMES) == ["on.md", "off.md"], what="both documents open")
            driver.execute("window.Quillmarsh.menuRun('m2.20')")
            wait_until(lambda: "Auto-save is off for off.md" in driver.execute(
                "return document.getElementById('status-message').textContent"), what="the rule turned off")
            self.assertEqual(json.loads(read(os.path.join(desktop.support, "autosave.json"))), {f"file:{off}": False})

            type_at_end(program, window, "Not saved by itself.")
            show_tab(driver, "on.md")
            type_at_end(program, window, "Saved by itself.")
            wait_until(lambda: read(on) == "# On\nSaved by itself.", what="the pause to save the document")
            wait_until(lambda: not driver.execute(SHOWN_TAB_DIRTY), what="the tab to show it is saved")
            # Typed earlier, with the same delay: its pause has passed too.
            self.assertEqual(read(off), "# Off\n")
            show_tab(driver, "off.md")
            self.assertTrue(driver.execute(SHOWN_TAB_DIRTY))
        finally:
            if program:
                program.close()
            desktop.close()


class FunctionKeySeven(unittest.TestCase):
    """F7 is a key binding of the hidden text view the web view translates keys
    with; it used to make GTK abort the whole program a caret blink later."""

    def test_f7_leaves_the_program_running_and_the_page_answering(self):
        desktop = Desktop()
        program = None
        try:
            # A fast blink: a caret blinking where it must not fails within a tenth of a second.
            with open(os.path.join(desktop.config, "gtk-4.0", "settings.ini"), "a") as out:
                out.write("gtk-cursor-blink-time=100\n")
            program = Program(desktop, PROGRAM)
            window = program.wait_for_window(TITLE)
            driver = program.connect()
            driver.execute("""
                const field = document.createElement('input');
                field.id = 'probe-field';
                field.style = 'position:fixed;left:300px;top:200px;z-index:9';
                document.body.append(field);
                field.focus();
            """)

            def page(script):
                """The script's result, or None once the program has ended."""
                try:
                    return driver.execute(script)
                except AssertionError:
                    if program.is_running():
                        raise
                    return None

            # Keys arrive in order: once the letter is in the field, every F7 before it was handled.
            program.activate(window)
            desktop.xdotool("key", "--clearmodifiers", "F7", "F7", "F7", "x")
            wait_until(lambda: not program.is_running() or page("return document.getElementById('probe-field').value") == "x",
                       what="the key after F7 to reach the page")
            # Twenty blink periods on the page's clock, or the end of the program, whichever comes first.
            start = page("return performance.now()") or 0
            wait_until(lambda: not program.is_running() or (page("return performance.now()") or 0) - start > 2000,
                       what="twenty caret blinks")
            self.assertTrue(program.is_running(), f"the program ended with status {program.process.returncode}")
            self.assertEqual(program.fetch("GET", "/api/build")["status"], 200)
        finally:
            if program:
                program.close()
            desktop.close()


class PageClaimsSelectAll(unittest.TestCase):
    """A key the page's menus declare runs the page's item, not the web view's
    own Edit command on the same key: also from a menu after the standard Edit
    menu, whose items GTK would otherwise find first."""

    def test_control_a_runs_the_pages_item_once_the_page_declares_it(self):
        launch = Launch()
        program, driver, desktop = launch.program, launch.driver, launch.desktop
        try:
            driver.execute("""
                window.menuCalls = [];
                window.Quillmarsh.menuRun = (id) => window.menuCalls.push(id);
                const field = document.createElement('input');
                field.id = 'probe-field'; field.value = 'hello world';
                field.style = 'position:fixed;left:300px;top:200px;z-index:9';
                document.body.append(field);
                field.focus();
                field.setSelectionRange(5, 5);
            """)
            # The page sends its own menus again as its launch work ends (settings,
            # remembered state), replacing the probe's; its own Select All is then
            # disabled (no document), so the key goes on to the field. Until the probe's
            # menus stay, they are sent again and the key pressed again.
            for attempt in range(5):
                marker = f"https://a.example/menus-in-place-{attempt}"
                driver.execute("""
                    // A key that reached no item went on to the field; its caret is set again.
                    const field = document.getElementById('probe-field');
                    field.focus();
                    field.setSelectionRange(5, 5);
                    const handler = window.webkit.messageHandlers.quillmarsh;
                    handler.postMessage({menus: [
                      {label: 'Selection', items: [{label: 'Select All', id: 'm2.1', key: 'Cmd+A'}]},
                    ]});
                    // Messages are handled in order: once this link reaches the browser, the menus are in place.
                    handler.postMessage({open: arguments[0]});""", marker)
                wait_until(lambda: marker in desktop.browser_calls(), what="the menus message")
                program.key(launch.window, "ctrl+a")
                try:
                    calls = wait_until(lambda: driver.execute("return window.menuCalls.length && window.menuCalls"),
                                       timeout=5, what="the page's menuRun to be called")
                    break
                except AssertionError:
                    continue
            else:
                self.fail("Ctrl+A never reached the page's item")
            self.assertEqual(calls, ["m2.1"])
            # The web view's Select All never ran: the field's caret is where the page left it.
            self.assertEqual(driver.execute(
                "const f = document.getElementById('probe-field'); return [f.selectionStart, f.selectionEnd]"), [5, 5])
        finally:
            launch.close()


class PagePolicy(unittest.TestCase):
    """The start document's content security policy in the real web view: no
    inline script, no eval, no frames; a style element runs only with this
    launch's nonce."""

    def test_inline_code_is_refused_and_the_nonce_lets_styles_in(self):
        launch = Launch()
        try:
            outcome = launch.driver.execute_async("""
                const done = arguments[0];
                const result = {};
                try { eval('1'); result.eval = 'ran'; } catch (error) { result.eval = error.name; }
                window.inlineRan = false;
                const script = document.createElement('script');
                script.textContent = 'window.inlineRan = true';
                document.body.append(script);
                result.inlineScript = window.inlineRan;
                const probe = document.createElement('div');
                probe.id = 'policy-probe';
                document.body.append(probe);
                const style = (nonce) => {
                  const element = document.createElement('style');
                  if (nonce) element.nonce = nonce;
                  element.textContent = '#policy-probe { width: ' + (nonce ? 77 : 33) + 'px; }';
                  document.head.append(element);
                  return getComputedStyle(probe).width === element.textContent.match(/\\d+px/)[0] ? 'applied' : 'refused';
                };
                result.styleWithout = style(null);
                fetch('/').then((answer) => {
                  const policy = answer.headers.get('Content-Security-Policy') || '';
                  const nonce = (policy.match(/'nonce-([0-9a-f]+)'/) || [])[1];
                  result.styleWithNonce = nonce ? style(nonce) : 'no nonce';
                  const frame = document.createElement('iframe');
                  frame.src = '/web/app.css';
                  frame.onload = () => {
                    let origin;
                    try { origin = frame.contentWindow.location.origin; } catch (error) { origin = error.name; }
                    result.frameOrigin = origin;
                    frame.remove();
                    probe.remove();
                    done(result);
                  };
                  document.body.append(frame);
                });
            """)
            self.assertEqual(outcome, {"eval": "EvalError", "inlineScript": False, "styleWithout": "refused",
                                       "styleWithNonce": "applied", "frameOrigin": "null"})
            # The page itself still loaded under the policy: its own script built the start page.
            self.assertIn("Open Folder", launch.driver.execute("return document.body.innerText"))
        finally:
            launch.close()


def read_clipboard(desktop, target):
    """The clipboard as another program receives it in `target`, or None while
    no copy offers that target. A sender that never finishes fails the test."""
    try:
        done = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", target], env=desktop.env(),
                              capture_output=True, timeout=60)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"the clipboard's {target} never finished arriving: the program stopped sending it")
    return done.stdout.decode("utf-8") if done.returncode == 0 else None


class CopiesReachOtherPrograms(unittest.TestCase):
    """Text copied in the window reaches another program over X11 whole,
    however large, and the program keeps answering while it sends it."""

    def test_a_megabyte_arrives_whole_and_a_small_copy_after_it_too(self):
        desktop = Desktop()
        program = None
        try:
            lines = [f"line {k:05} of the long document another program reads" for k in range(19000)]
            text = "# D\u00e9j\u00e0 lu\n" + "\n".join(lines) + "\n"
            self.assertGreater(len(text.encode()), 1_000_000)
            document = os.path.join(desktop.home, "long.md")
            write(document, text)
            characters = "return document.getElementById('status-counts').dataset.characters"
            expected_characters = str(len(text) - text.count("\n"))

            program, window, driver = start_and_copy_everything(desktop, document, characters, expected_characters)

            # What clipboard tools ask for first, and the bare type, which is ASCII
            # with escapes for the rest.
            wait_until(lambda: read_clipboard(desktop, "UTF8_STRING") == text, timeout=60,
                       what="the whole text as UTF8_STRING")
            self.assertEqual(read_clipboard(desktop, "text/plain"),
                             text.replace("\u00e9", "\\u00e9").replace("\u00e0", "\\u00e0"))
            # The program still answers: its page runs a script and the window takes keys.
            self.assertEqual(driver.execute(characters), expected_characters)

            program.key(window, "ctrl+n")
            wait_until(lambda: driver.execute("return document.querySelectorAll('#tabs .tab').length") == 2,
                       what="a new document")
            type_at_end(program, window, "a small copy")
            program.key(window, "ctrl+a")
            program.key(window, "ctrl+c")
            wait_until(lambda: read_clipboard(desktop, "UTF8_STRING") == "a small copy",
                       what="the small copy in another program")
        finally:
            if program:
                program.close()
            desktop.close()


if __name__ == "__main__":
    unittest.main()
