#!/usr/bin/env python3
"""Runs a command with two resource servers on 127.0.0.1 (two ports: two origins), given to it as
PL5_RESOURCE_PORT and PL5_RESOURCE_PORT2. Resources by the last path segment: fixed bodies
(BODIES), bytes?n=N, slow.js (4 s before the answer), trickle.js (one byte every 0.3 s), echo (the
Cookie and User-Agent headers received), redirect?to=URL and loop (302)."""
import http.server, os, subprocess, sys, threading, time, urllib.parse

BODIES = {"a.js": (200, b"var a = 1;"), "s.css": (200, b"p { color: red; }"),
          "missing.js": (404, b"not here"), "error.js": (500, b"failed page"), "nul.js": (200, b"ab\0cd")}


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=(), length=None):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        name, query = url.path.rsplit("/", 1)[-1], urllib.parse.parse_qs(url.query)
        try:
            if name in BODIES:
                self.answer(*BODIES[name])
            elif name == "bytes":
                self.answer(200, b"x" * int(query["n"][0]))
            elif name == "slow.js":
                time.sleep(4)
                self.answer(200, b"late")
            elif name == "trickle.js":
                self.answer(200, b"", length=100)
                for _ in range(100):
                    time.sleep(0.3)
                    self.wfile.write(b"x")
                    self.wfile.flush()
            elif name == "echo":
                self.answer(200, ("cookie=%s|agent=%s" % (self.headers.get("Cookie", ""),
                                                          self.headers.get("User-Agent", ""))).encode())
            elif name in ("redirect", "loop"):
                self.answer(302, b"moved", [("Location", query["to"][0] if name == "redirect" else self.path)])
            else:
                self.answer(404, b"")
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    servers = [http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler) for _ in range(2)]
    for server in servers:
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
    env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy", "all_proxy")}
    env["PL5_RESOURCE_PORT"], env["PL5_RESOURCE_PORT2"] = (str(s.server_address[1]) for s in servers)
    return subprocess.call(sys.argv[1:], env=env)


if __name__ == "__main__":
    sys.exit(main())
