"""A private desktop for driving the real program: Xvfb on a free display,
openbox as window manager, XDG folders in a temporary home, a fake browser
registered as the default handler for web and mail links, the test build of
the program with a WebDriver session on its web view, and xdotool for real
input. Everything it starts it also ends.

Every wait is bounded and polls for a condition; nothing sleeps on a guess.
"""

import base64
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

DEFAULT_TIMEOUT = 30.0


class Timeout(AssertionError):
    pass


def wait_until(condition, timeout=DEFAULT_TIMEOUT, interval=0.05, what="a condition"):
    """Polls until condition() gives a true value and returns it."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _stop(process, grace=5.0):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(grace)


_SANDBOX = None


def _sandbox_works():
    global _SANDBOX
    if _SANDBOX is None:
        try:
            done = subprocess.run(["bwrap", "--ro-bind", "/", "/", "--unshare-pid", "--unshare-user-try", "true"],
                                  capture_output=True, timeout=DEFAULT_TIMEOUT)
            _SANDBOX = done.returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            _SANDBOX = False
    return _SANDBOX


FAKE_BROWSER = """#!/bin/sh
# Stands in for the desktop's browser and mail program: notes what it was given.
printf '%s\\n' "$@" >> "{record}"
"""


class Desktop:
    """Xvfb + openbox, and a home folder whose XDG folders the program uses."""

    def __init__(self, width=1600, height=1000, server_options=()):
        self.root = tempfile.mkdtemp(prefix="quillmarsh-e2e-")
        self.home = os.path.join(self.root, "home")
        self.data = os.path.join(self.home, ".local", "share")
        self.state = os.path.join(self.home, ".local", "state")
        self.config = os.path.join(self.home, ".config")
        self.cache = os.path.join(self.home, ".cache")
        self.runtime = os.path.join(self.root, "runtime")
        for folder in (self.data, self.state, self.config, self.cache, self.runtime):
            os.makedirs(folder, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.browser_record = os.path.join(self.root, "browser-calls.txt")
        # File choosers open where they are told, not in a list of recent files
        # that fills itself while keys arrive.
        os.makedirs(os.path.join(self.config, "gtk-4.0"))
        with open(os.path.join(self.config, "gtk-4.0", "settings.ini"), "w") as out:
            out.write("[Settings]\ngtk-recent-files-enabled=false\n")
        self._register_fake_browser()
        # A fresh install saves edited documents by itself after a pause; tests
        # of unsaved edits would race it. Those of auto-save turn it on.
        self.support = os.path.join(self.data, "Quillmarsh")
        self.write_settings({"autosaveDefault": False})
        self.xvfb = None
        self.openbox = None
        try:
            self._start_xvfb(width, height, server_options)
            self._start_openbox()
        except BaseException:
            self.close()
            raise

    # --- environment ---------------------------------------------------------

    def env(self, **extra):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "DISPLAY": self.display,
            "XDG_DATA_HOME": self.data,
            "XDG_STATE_HOME": self.state,
            "XDG_CONFIG_HOME": self.config,
            "XDG_CACHE_HOME": self.cache,
            "XDG_RUNTIME_DIR": self.runtime,
            # The fake browser below is the default handler through
            # $XDG_CONFIG_HOME/mimeapps.list, which wins over the system's.
            "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
            "GDK_BACKEND": "x11",
            "GTK_A11Y": "none",
            "NO_AT_BRIDGE": "1",
            "LANG": "C.UTF-8",
        }
        # WebKit runs its web process in a bubblewrap sandbox. Here (root in a
        # container) bwrap works and the sandbox stays on; where a container
        # allows no namespaces, bwrap fails and the web process would die at
        # start, so only then the test program runs without the sandbox. The
        # program users run never sets this.
        if not _sandbox_works():
            env["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1"
        env.update(extra)
        return env

    def write_settings(self, settings):
        """The program's settings file, read at its next start."""
        os.makedirs(self.support, exist_ok=True)
        with open(os.path.join(self.support, "settings.json"), "w", encoding="utf-8") as out:
            json.dump(settings, out)

    def _register_fake_browser(self):
        bin_dir = os.path.join(self.root, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        script = os.path.join(bin_dir, "fake-browser")
        with open(script, "w") as out:
            out.write(FAKE_BROWSER.format(record=self.browser_record))
        os.chmod(script, 0o755)
        apps = os.path.join(self.data, "applications")
        os.makedirs(apps, exist_ok=True)
        with open(os.path.join(apps, "fake-browser.desktop"), "w") as out:
            out.write(
                "[Desktop Entry]\nType=Application\nName=Fake Browser\n"
                f"Exec={script} %u\n"
                "MimeType=x-scheme-handler/http;x-scheme-handler/https;x-scheme-handler/mailto;\n"
            )
        with open(os.path.join(self.config, "mimeapps.list"), "w") as out:
            out.write(
                "[Default Applications]\n"
                "x-scheme-handler/http=fake-browser.desktop\n"
                "x-scheme-handler/https=fake-browser.desktop\n"
                "x-scheme-handler/mailto=fake-browser.desktop\n"
            )

    def browser_calls(self):
        try:
            with open(self.browser_record) as record:
                return [line.rstrip("\n") for line in record if line.strip()]
        except FileNotFoundError:
            return []

    # --- X server and window manager -----------------------------------------

    def _start_xvfb(self, width, height, server_options=()):
        reader, writer = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(writer), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset", *server_options],
            pass_fds=[writer], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(writer)
        number = b""
        deadline = time.monotonic() + DEFAULT_TIMEOUT
        with os.fdopen(reader, "rb") as pipe:
            while not number.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([pipe], [], [], left)[0]:
                    raise Timeout("Xvfb did not report its display")
                chunk = os.read(pipe.fileno(), 16)
                if not chunk:
                    raise AssertionError("Xvfb ended before it reported its display")
                number += chunk
        self.display = ":" + number.decode().strip()

    def _start_openbox(self):
        self.openbox = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def managing():
            out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
            return "window id" in out

        wait_until(managing, what="openbox to manage the screen")

    def run(self, command, check=True, timeout=DEFAULT_TIMEOUT):
        done = subprocess.run(command, env=self.env(), capture_output=True, text=True, timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError(f"{command[0]} failed: {done.stderr.strip()}")
        return done.stdout

    def xdotool(self, *arguments, check=True):
        return self.run(["xdotool", *arguments], check=check)

    def close(self):
        _stop(self.openbox)
        _stop(self.xvfb)
        shutil.rmtree(self.root, ignore_errors=True)


class WebDriver:
    """A W3C WebDriver session on the program's one web view."""

    def __init__(self, desktop, remote_port):
        self.port = free_port()
        self.process = subprocess.Popen(
            ["WebKitWebDriver", f"--port={self.port}", f"--target=127.0.0.1:{remote_port}"],
            env=desktop.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.session = None
        try:
            wait_until(self._listening, what="the WebDriver to listen")
            answer = self._call("POST", "/session", {"capabilities": {"alwaysMatch": {
                "webkitgtk:browserOptions": {"targetAddress": f"127.0.0.1:{remote_port}"}}}})
            self.session = answer["sessionId"]
        except BaseException:
            self.close()
            raise

    def _listening(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False

    def _call(self, method, path, body=None, timeout=DEFAULT_TIMEOUT):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(request, timeout=timeout) as response:
                return json.loads(response.read())["value"]
        except urllib.error.HTTPError as error:
            raise AssertionError(f"WebDriver {method} {path}: {error.read().decode(errors='replace')}") from None

    def execute(self, script, *arguments):
        """Runs a function body in the page and returns its result."""
        return self._call("POST", f"/session/{self.session}/execute/sync",
                          {"script": script, "args": list(arguments)})

    def execute_async(self, script, *arguments):
        """Runs a function body whose last argument is the callback that ends it."""
        return self._call("POST", f"/session/{self.session}/execute/async",
                          {"script": script, "args": list(arguments)})

    def execute_async_within(self, seconds, script, *arguments):
        """execute_async for page work that may outlast the default wait (a
        large document settling, say): the session's script limit and this
        side's wait both become `seconds`."""
        self._call("POST", f"/session/{self.session}/timeouts", {"script": int(seconds * 1000)})
        return self._call("POST", f"/session/{self.session}/execute/async",
                          {"script": script, "args": list(arguments)}, timeout=seconds + 10)

    def screenshot(self):
        return base64.b64decode(self._call("GET", f"/session/{self.session}/screenshot"))

    def close(self):
        if self.session:
            try:
                self._call("DELETE", f"/session/{self.session}", timeout=5)
            except Exception:
                pass
            self.session = None
        _stop(self.process)


class Program:
    """The test build of the program on a desktop."""

    def __init__(self, desktop, executable, arguments=(), env=None):
        self.desktop = desktop
        self.remote_port = free_port()
        self.log_path = os.path.join(desktop.state, "Quillmarsh.log")
        self.output = open(os.path.join(desktop.root, "program-output.txt"), "ab")
        extra = {"WEBKIT_INSPECTOR_SERVER": f"127.0.0.1:{self.remote_port}"}
        extra.update(env or {})
        self.process = subprocess.Popen([executable, *arguments], env=desktop.env(**extra),
                                        stdout=self.output, stderr=subprocess.STDOUT)
        self.driver = None

    # --- the log -------------------------------------------------------------

    def log_lines(self):
        """The messages logged so far, without the header and time stamps."""
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as log:
                lines = log.read().splitlines()
        except FileNotFoundError:
            return []
        # "2024-05-01T14:03:07Z " is 21 characters.
        return [line[21:] for line in lines[1:] if len(line) > 21]

    def wait_for_log(self, message, count=1, timeout=DEFAULT_TIMEOUT):
        return wait_until(lambda: self.log_lines().count(message) >= count, timeout,
                          what=f"the log line {message!r}")

    # --- windows -------------------------------------------------------------

    def windows(self, name=None):
        # Every condition must hold; xdotool's default is any of them.
        arguments = ["search", "--all", "--onlyvisible", "--pid", str(self.process.pid)]
        if name is not None:
            arguments += ["--name", name]
        out = self.desktop.xdotool(*arguments, check=False)
        return [line for line in out.split() if line]

    def wait_for_window(self, name, timeout=DEFAULT_TIMEOUT):
        def found():
            if not self.is_running():
                raise AssertionError(f"the program ended (status {self.process.returncode}) before showing {name!r}")
            return (self.windows(name) or [None])[0]

        return wait_until(found, timeout, what=f"a window named {name!r}")

    def window_names(self):
        names = []
        for window in self.windows():
            names.append(self.desktop.xdotool("getwindowname", window, check=False).strip())
        return names

    def activate(self, window):
        self.desktop.xdotool("windowactivate", "--sync", window)

    def key(self, window, keys):
        self.activate(window)
        self.desktop.xdotool("key", "--clearmodifiers", keys)

    def page_picture(self, window, path):
        """Takes a picture of the window's page area (below the menu bar row)
        once the page has painted there: many colours, not one or two."""
        inner_height = self.driver.execute("return window.innerHeight")

        def painted():
            geometry = self.geometry(window)
            top = geometry["HEIGHT"] - inner_height
            self.desktop.run(["import", "-window", window, "-crop",
                              f"{geometry['WIDTH']}x{inner_height}+0+{top}", "+repage", path])
            colors = int(self.desktop.run(["convert", path, "-format", "%k", "info:"]))
            return colors if colors > 50 else None

        return wait_until(painted, what="the page to be painted", interval=0.2)

    def geometry(self, window):
        out = self.desktop.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return {key: int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT")}

    # --- the page ------------------------------------------------------------

    def connect(self):
        """A WebDriver session on the web view, once the page has loaded."""
        self.driver = WebDriver(self.desktop, self.remote_port)
        wait_until(lambda: self.driver.execute("return document.readyState === 'complete' && !!window.Quillmarsh"),
                   what="the editor page to load")
        return self.driver

    def fetch(self, method, path, body=None, token=True):
        """An API request made by the page itself; answers status and body text."""
        script = """
            const [method, path, body, withToken, done] = arguments;
            const headers = {};
            if (withToken) headers['X-Quillmarsh-Token'] = document.querySelector('meta[name="quillmarsh-token"]').content;
            const init = {method, headers};
            if (body !== null) init.body = body;
            fetch(path, init).then(async (r) => done({status: r.status, body: await r.text()}),
                                   (e) => done({status: 0, body: String(e)}));
        """
        return self.driver.execute_async(script, method, path, body, token)

    # --- ending --------------------------------------------------------------

    def wait_for_exit(self, timeout=DEFAULT_TIMEOUT):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Timeout("the program did not end") from None

    def is_running(self):
        return self.process.poll() is None

    def close(self):
        if self.driver:
            self.driver.close()
            self.driver = None
        if self.process.poll() is None:
            # Ending the test, not testing a quit: no question to the page.
            self.process.kill()
            self.process.wait(10)
        self.output.close()
