#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into tests/fuzz/corpus/<Name>/.

Most targets split their input with libFuzzer's FuzzedDataProvider, which takes
numbers from the end of the input and text from its front; the Seed class below
lays out bytes the same way, so each seed is a meaningful request, body or
path. Run it again after changing how a target reads its input."""
import json
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))


class Seed:
    def __init__(self):
        self.front = b""
        self.back = []  # bytes in the order they are consumed from the end

    def number(self, value, low, high):
        """ConsumeIntegralInRange(low, high) answering `value`."""
        span = high - low
        offset = value - low
        assert 0 <= offset <= span
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        # The provider builds the number big-end first from the bytes it takes.
        for shift in reversed(range(count)):
            self.back.append((offset >> (8 * shift)) & 0xFF)
        return self

    def boolean(self, value):
        self.back.append(1 if value else 0)
        return self

    def text(self, value):
        """ConsumeRandomLengthString: a backslash is doubled, a lone one ends it."""
        if isinstance(value, str):
            value = value.encode()
        self.front += value.replace(b"\\", b"\\\\") + b"\\n"
        return self

    def rest(self, value):
        if isinstance(value, str):
            value = value.encode()
        self.front += value
        return self

    def bytes(self):
        return self.front + bytes(reversed(self.back))


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        if isinstance(data, Seed):
            data = data.bytes()
        elif isinstance(data, str):
            data = data.encode()
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


# --- RequestBody: mode, save, hasDeclared, then the mode's parts -------------
def body_bytes(text, save, declared_choice, declared_text=""):
    s = Seed().number(0, 0, 2).boolean(save).boolean(declared_choice is not None)
    s.text(text)
    if declared_choice is not None:
        s.number(declared_choice, 0, 5)
        if declared_choice == 5:
            s.text(declared_text)
    s.text("stream error")
    return s


def body_stream(pieces, declared_choice, fail_at=None):
    s = Seed().number(1, 0, 2).boolean(True).boolean(declared_choice is not None)
    s.number(15 if fail_at is not None else 0, 0, 15)
    if fail_at is not None:
        s.number(fail_at, 0, 8)
    s.number(0, 0, 63)  # no padding
    s.number(len(pieces), 0, 8)
    for piece in pieces:
        s.text(piece)
        s.number(0, 0, 7)  # not lengthened
    if declared_choice is not None:
        s.number(declared_choice, 0, 5)
    s.text("connection reset")
    return s


write("RequestBody", {
    "whole-exact": body_bytes("# Note\n", True, 0),
    "whole-plus-sign": body_bytes("text", True, 2),
    "whole-one-short": body_bytes("text", True, 4),
    "whole-not-a-number": body_bytes("text", False, 5, " 4"),
    "whole-huge-count": body_bytes("text", True, 5, "99999999999999999999"),
    "stream-pieces": body_stream(["# Title\n", "body ", "end"], 0),
    "stream-fails": body_stream(["part one", "part two"], 0, fail_at=1),
    "stream-leading-zeros": body_stream(["abc"], 3),
})

# --- PathRules: the open folder's form last, the path in front ---------------
def path(text, form=0):
    return Seed().number(form, 0, 6).rest(text)


write("PathRules", {
    "plain": path("notes/plan.md"),
    "trailing-slash-folder": path("notes/plan.md", 1),
    "folder-by-link": path("notes/plan.md", 3),
    "dot-dot": path("../outside/secret.md"),
    "link-up": path("up/outside/secret.md"),
    "link-out": path("out/secret.md"),
    "link-loop": path("loop1/x.md"),
    "link-to-secret": path("tossh/key.md"),
    "link-to-hidden": path("hiddenfile.md"),
    "link-sibling": path("sibling/a.md"),
    "link-deep": path("deep/secret.md"),
    "link-in-folder": path("notes/back.md"),
    "gcloud": path("cfg/gcloud/token.md"),
    "hidden-folder": path(".notes/kept.md"),
    "absolute": path("/etc/passwd.md"),
    "no-folder": path("notes/plan.md", 6),
})

# --- Images: allowed folder, document, sandboxed; the reference in front -----
def picture(src, allowed=0, doc=0, sandboxed=False):
    return Seed().number(allowed, 0, 3).number(doc, 0, 2).boolean(sandboxed).rest(src)


write("Images", {
    "beside": picture("img/b.PNG"),
    "escaped": picture("img/with%20space.gif?x=1#top"),
    "percent-name": picture("img/100%.jpg"),
    "up-and-out": picture("../../outside/c.png"),
    "link-out": picture("../out.png", sandboxed=True),
    "through-up-link": picture("up/outside/c.png", allowed=2),
    "hidden": picture("hidden.png"),
    "secret": picture("tossh/k.png"),
    "absolute": picture("/etc/hosts.png", allowed=1),
    "scheme": picture("https://example.org/a.png"),
    "folder-by-link": picture("inside.png", allowed=2, doc=1),
})

# --- PageMessage: name choice, main frame, frame address; JSON in front ------
def message(body, frame=2, main=True, name=1):
    return Seed().number(name, 0, 3).number(1 if main else 0, 0, 7).number(frame, 0, 3).rest(json.dumps(body))


write("PageMessage", {
    "menus": message({"menus": [{"title": "File", "items": [
        {"id": "new", "title": "New", "key": "n"},
        {"separator": True},
        {"title": "Recent", "items": [{"id": "r1", "title": "plan.md", "checked": True}]}]}]}),
    "header": message({"header": {"height": 52, "holes": [[0, 0, 80, 52], [1, 2, 3]]}}),
    "header-too-tall": message({"header": {"height": 1e308, "holes": []}}),
    "open-web": message({"open": "HTTPS://example.org/a%20b"}),
    "open-file": message({"open": "file:///etc/passwd"}),
    "two-keys": message({"open": "https://example.org", "header": {}}),
    "other-frame": message({"open": "https://example.org"}, frame=1),
    "not-main-frame": message({"open": "mailto:a@example.org"}, main=False),
})

# --- UpdateFeed: the feed's bytes --------------------------------------------
feed = {"version": "1.4.0", "file": "Quillmarsh-1.4.0.dmg", "sha256": "ab" * 32, "min_macos": "12.0"}
write("UpdateFeed", {
    "good": json.dumps(dict(feed, notes="Faster saves.")),
    "line-break": json.dumps(dict(feed, version="1.4.0\n")),
    "blank-notes": json.dumps(dict(feed, notes=" \u2028 ")),
    "notes-not-text": json.dumps(dict(feed, notes=7)),
    "upper-digest": json.dumps(dict(feed, sha256="AB" * 32)),
    "not-object": "[1, 2, 3]",
})

# --- Stores: the store's number, then its file -------------------------------
def store(number, value):
    return bytes([number]) + (value if isinstance(value, bytes) else json.dumps(value).encode())


write("Stores", {
    "settings": store(0, {"theme": "dark", "autosaveDelay": 2, "fontSize": "huge"}),
    "settings-torn": store(0, b'{"theme": "da'),
    "recent": store(1, [{"kind": "file", "path": "/tmp/a.md", "bookmark": ""},
                        {"kind": "folder", "path": "/tmp", "bookmark": "AAAA"},
                        {"kind": "file", "path": "/tmp/a.md", "bookmark": ""}]),
    "recent-stray": store(1, [{"kind": "file", "path": "/tmp/a.md"}, 3]),
    # Found by fuzzing: an entry without a bookmark, then the same one with the
    # empty bookmark; merged on the next add, it must read back as saved.
    "recent-duplicate-without-bookmark": store(1, [{"kind": "file", "path": "/tmp/a.md", "bookmarkark": "AAAA"},
                                                   {"kind": "file", "path": "/tmp/a.md", "bookmark": ""}]),
    "session": store(2, {"folder": {"path": "/tmp", "bookmark": ""},
                         "docs": [{"path": "/tmp/a.md", "bookmark": ""}], "active": 0,
                         "views": [{"anchor": 1, "head": 2, "top": 3}]}),
    "recovery": store(3, {"name": "plan.md", "location": "/tmp/plan.md", "bookmark": "", "base": "x",
                          "text": "unsaved \u00e9", "savedAt": 1700000000}),
    "recovery-zeros": store(3, b"\0" * 64),
    "autosave": store(4, {"file:/tmp/a.md": False, "folder:/tmp/../tmp/": True}),
    "plugin-folders": store(5, {"org.example.tool": {"path": "/tmp/tool", "bookmark": ""}}),
    "image-folders": store(6, [{"path": "/tmp", "bookmark": ""}, {"path": 3}]),
    "update-state": store(7, {"last": 1e300}),
    "update-state-future": store(7, {"last": 4102444800}),
})

# --- RequestFrame: a sequence of requests -------------------------------------
HOSTS = 8
PATHS = ["/api/build", "/api/about", "/api/changelog", "/api/settings", "/api/recent", "/api/recent/open",
         "/api/recent/clear", "/api/session", "/api/session/restore", "/api/recovery", "/api/recovery/text",
         "/api/recovery/open", "/api/recovery/clear", "/api/autosave", "/api/autosave/rules", "/api/file",
         "/api/versions", "/api/tree", "/api/close-folder", "/api/opened", "/api/image", "/api/allow-images",
         "/api/choose-folder", "/api/choose-file", "/api/choose-save", "/api/plugin-folder", "/api/update/check",
         "/api/backups/show", "/api/search", "/api/export-html", "/api/nothing", "/", "/index.html",
         "/web/index.html", "/../../etc/passwd", "/%2e%2e/version.json"]
METHODS = ["GET", "POST", "PUT", "DELETE", "get", "OPTIONS"]
QUERIES = ["", "?path=note.md", "?path=saved.md", "?path=../outside.md", "?path=note.md&src=pictures/dot.png",
           "?id=abcdef&path=note.md", "?auto=1", "?file=unknown"]


def request(s, path, method="GET", query=0, token=7, origin=5, body=None, length=3, host=0, stop=False):
    s.number(2, 0, 7).number(host, 0, HOSTS - 1).number(PATHS.index(path), 0, len(PATHS) - 1)
    s.number(query, 0, len(QUERIES) - 1).text("")
    s.number(1, 0, 15).number(1, 0, 7).number(METHODS.index(method), 0, len(METHODS) - 1)
    s.number(token, 0, 7)
    if token in (1, 2):
        s.text("wrong")
    s.boolean(True).number(origin, 0, 5)
    if origin == 0:
        s.text("https://evil.example")
    s.number(0, 0, 2)  # no extra fields
    if body is None:
        s.number(0, 0, 3)
    else:
        s.number(2, 0, 3).text(body)
    s.boolean(True).number(length, 0, 3)
    if length == 1:
        s.text("5")
    s.number(15 if stop else 0, 0, 15)
    return s


def frame(*requests):
    s = Seed().number(len(requests), 1, 4)
    for r in requests:
        request(s, **r)
    return s


write("RequestFrame", {
    "build": frame(dict(path="/api/build")),
    "no-token": frame(dict(path="/api/settings", token=0)),
    "wrong-token": frame(dict(path="/api/recent", token=1)),
    "token-with-suffix": frame(dict(path="/api/build", token=2)),
    "other-origin": frame(dict(path="/api/build", origin=0)),
    "upper-case-host": frame(dict(path="/api/build", host=3, token=0)),
    "asset": frame(dict(path="/index.html", token=0)),
    "asset-escape": frame(dict(path="/%2e%2e/version.json", token=0)),
    "settings-post": frame(dict(path="/api/settings", method="POST", body='{"theme": "dark"}', length=0)),
    "open-and-save": frame(dict(path="/api/choose-folder", method="POST"),
                           dict(path="/api/file", method="GET", query=1),
                           dict(path="/api/file", method="PUT", query=2, body="# Saved\n", length=2)),
    "open-and-tree": frame(dict(path="/api/choose-folder", method="POST"), dict(path="/api/tree"),
                           dict(path="/api/image", query=4)),
    "wrong-length": frame(dict(path="/api/settings", method="POST", body="{}", length=1)),
    "abandoned": frame(dict(path="/api/choose-file", method="POST", stop=True), dict(path="/api/build")),
})
