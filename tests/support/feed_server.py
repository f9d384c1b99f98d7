#!/usr/bin/env python3
"""A loopback HTTPS server standing in for the update server in tests.

Usage: feed_server.py CERT KEY

Prints one JSON line {"port": N, "silent": M} once it listens, then one JSON
line per request it receives ({"path": ..., "headers": {...}}), written before
the answer goes out. "silent" is a second port that accepts connections and
never says anything. Each path below is one way the update server can answer.
"""
import json
import socket
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

DIGEST = "0123456789abcdef" * 4


def feed(version, notes=None, digest=DIGEST):
    entry = {"version": version, "file": "Quillmarsh-" + version + ".dmg", "sha256": digest, "min_macos": "13.5"}
    if notes is not None:
        entry["notes"] = notes
    return json.dumps(entry).encode()


FEEDS = {
    "/current": feed("1.2.3"),
    "/newer": feed("2.0.0", notes="Faster saves.\nFewer surprises."),
    "/newer-without-notes": feed("2.0.0"),
    "/bad-digest": feed("2.0.0", digest=DIGEST.upper()),
}
STATUSES = {"/not-modified": 304, "/missing": 404}

print_lock = threading.Lock()


def say(value):
    with print_lock:
        sys.stdout.write(json.dumps(value) + "\n")
        sys.stdout.flush()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        # The handshake runs on the request's own thread, so a client that
        # never completes one does not hold up the others.
        self.request = CONTEXT.wrap_socket(self.request, server_side=True)
        super().setup()

    def log_message(self, *args):
        pass

    def send_body(self, status, body, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        say({"path": self.path, "headers": {name.lower(): value for name, value in self.headers.items()}})
        try:
            self.answer()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client gave up on purpose: what several cases test

    def answer(self):
        if self.path in FEEDS:
            return self.send_body(200, FEEDS[self.path])
        if self.path in STATUSES:
            self.send_response(STATUSES[self.path])
            self.send_header("Content-Length", "0")
            return self.end_headers()
        if self.path == "/redirect":
            host, port = self.server.server_address[:2]
            location = "https://%s:%d/newer" % (host, port)
            return self.send_body(302, b"", [("Location", location)])
        if self.path == "/silent":
            threading.Event().wait()  # reported, then never answered
        if self.path == "/announced-big":
            # The length is refused before a byte is read: the valid feed that
            # follows, cut short, must never be taken.
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", "20000")
            self.end_headers()
            self.wfile.write(FEEDS["/newer"])
            return
        if self.path == "/unknown-length":
            # No length and no chunks: the body ends when the connection does.
            self.close_connection = True
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Connection", "close")
            self.end_headers()
            for _ in range(16385 // 1024):
                self.wfile.write(b" " * 1024)
                self.wfile.flush()
            self.wfile.write(b" " * (16385 % 1024))
            return
        self.send_body(404, b"{}")


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # refused handshakes are part of the tests


def hold_silently(listener):
    held = []
    while True:
        connection, _ = listener.accept()
        held.append(connection)


if __name__ == "__main__":
    CONTEXT = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    CONTEXT.load_cert_chain(sys.argv[1], sys.argv[2])
    server = Server(("127.0.0.1", 0), Handler)
    silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    silent.bind(("127.0.0.1", 0))
    silent.listen(16)
    threading.Thread(target=hold_silently, args=(silent,), daemon=True).start()
    say({"port": server.server_address[1], "silent": silent.getsockname()[1]})
    server.serve_forever()
