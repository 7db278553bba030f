#!/usr/bin/env python3
"""Runs a command with two resource servers on 127.0.0.1 (two ports, so two origins) and stops
them when it ends. The ports go to the command as PL5_RESOURCE_PORT and PL5_RESOURCE_PORT2.

Resources, by the last segment of the path (folders are ignored):
  a.js, s.css        small text bodies
  missing.js         404 with a body;  error.js  500 with a body
  nul.js             "ab", a zero byte, "cd"
  bytes?n=N          N bytes of "x"
  slow.js            answers after 4 seconds
  trickle.js         announces 100000 bytes and sends one every 0.3 seconds
  echo               the Cookie, Authorization and User-Agent headers it received
  redirect?to=URL    302 to URL;  loop  302 to itself
"""
import http.server
import os
import subprocess
import sys
import threading
import time
import urllib.parse

BODIES = {
    "a.js": (200, b"var a = 1;"),
    "s.css": (200, b"p { color: red; }"),
    "missing.js": (404, b"not here"),
    "error.js": (500, b"failed page"),
    "nul.js": (200, b"ab\x00cd"),
}


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        name = url.path.rsplit("/", 1)[-1]
        query = urllib.parse.parse_qs(url.query)
        try:
            if name in BODIES:
                self.answer(*BODIES[name])
            elif name == "bytes":
                self.answer(200, b"x" * int(query["n"][0]))
            elif name == "slow.js":
                time.sleep(4)
                self.answer(200, b"late")
            elif name == "trickle.js":
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                for _ in range(100):
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(0.3)
            elif name == "echo":
                text = "cookie=%s|auth=%s|agent=%s" % (self.headers.get("Cookie", ""),
                                                       self.headers.get("Authorization", ""),
                                                       self.headers.get("User-Agent", ""))
                self.answer(200, text.encode())
            elif name == "redirect":
                self.answer(302, b"moved", [("Location", query["to"][0])])
            elif name == "loop":
                self.answer(302, b"moved", [("Location", self.path)])
            else:
                self.answer(404, b"")
        except (BrokenPipeError, ConnectionResetError):
            pass


def start():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    servers = [start(), start()]
    env = dict(os.environ)
    for key in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        env.pop(key, None)
    env["PL5_RESOURCE_PORT"] = str(servers[0].server_address[1])
    env["PL5_RESOURCE_PORT2"] = str(servers[1].server_address[1])
    try:
        return subprocess.call(sys.argv[1:], env=env)
    finally:
        for server in servers:
            server.shutdown()


if __name__ == "__main__":
    sys.exit(main())
