#!/usr/bin/env python3
"""A small HTTP server for the upload tests: it records the raw bytes of every request and answers
from a script, including faults that a real network produces (resets in the middle of the body,
a peer that vanishes without answering).

Control requests, sent by the tests to the plain port:
  POST /_control/script     body: JSON list of answers for the next requests, in order
  POST /_control/reset      forget the recorded requests and the script
  GET  /_control/count      number of requests recorded since the last reset
  GET  /_control/request/N  raw bytes of recorded request N (0-based; -1 is the last one)
  POST /_control/release    lets an answer that holds (below) go

An answer is a JSON object with any of:
  status (default 200), reason, headers ([[name, value], ...]), body (text, sent as UTF-8),
  body_hex (bytes), stream (that many bytes of "0123456789", or of `pattern`, repeated, without a
  Content-Length; -1: without end, until the client goes away), delay (seconds to wait before answering),
  hold (at most that many seconds to wait for /_control/release before answering),
  fault: "reset" (after reading `after` body bytes, default all, the connection is reset
  without an answer) or "close" (closed normally without an answer), "stall" (after reading
  `after` body bytes, default none, the server neither reads nor answers for `seconds`,
  default 60, then closes), "stall_answer" (the body is read, the head of an answer and a few
  bytes of its body are sent, then nothing for `seconds`) or "trickle" (the body is read, then the
  head of an answer and one byte of its body every `interval` seconds, for `seconds`).
Without a scripted answer the server answers 200 with "received N bytes".

With --discard the server records nothing and only counts the bytes it reads (benchmark).
"""
import argparse
import json
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

STATE_LOCK = threading.Lock()
RELEASE = threading.Event()
RECORDED = []
SCRIPT = []
DISCARD = False


def read_head(sock, buf):
    """Reads until the end of the header block; returns (head, rest) or (None, buf)."""
    while b"\r\n\r\n" not in buf:
        chunk = sock.recv(65536)
        if not chunk:
            return None, buf
        buf += chunk
    head, rest = buf.split(b"\r\n\r\n", 1)
    return head + b"\r\n\r\n", rest


def header_value(head, name):
    for line in head.split(b"\r\n")[1:]:
        key, _, value = line.partition(b":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def answer_bytes(answer, body_length):
    status = int(answer.get("status", 200))
    reason = answer.get("reason", {200: "OK", 301: "Moved Permanently", 302: "Found", 303: "See Other",
                                   307: "Temporary Redirect", 308: "Permanent Redirect",
                                   401: "Unauthorized", 404: "Not Found",
                                   500: "Internal Server Error"}.get(status, "Status"))
    if "body_hex" in answer:
        body = bytes.fromhex(answer["body_hex"])
    elif "body" in answer:
        body = answer["body"].encode("utf-8")
    else:
        body = ("received %d bytes" % body_length).encode("ascii")
    lines = ["HTTP/1.0 %d %s" % (status, reason)]
    names = set()
    for name, value in answer.get("headers", []):
        lines.append("%s: %s" % (name, value))
        names.add(name.lower())
    if "content-type" not in names:
        lines.append("Content-Type: text/plain; charset=utf-8")
    lines.append("Content-Length: %d" % len(body))
    lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("utf-8") + body


def control(path, method, body):
    global RECORDED, SCRIPT
    with STATE_LOCK:
        if path == "/_control/script" and method == b"POST":
            SCRIPT = list(json.loads(body.decode("utf-8")))
            return b"ok"
        if path == "/_control/reset":
            RECORDED, SCRIPT = [], []
            RELEASE.clear()
            return b"ok"
        if path == "/_control/release":
            RELEASE.set()
            return b"ok"
        if path == "/_control/count":
            return str(len(RECORDED)).encode("ascii")
        if path.startswith("/_control/request/"):
            index = int(path.rsplit("/", 1)[1])
            return RECORDED[index] if -len(RECORDED) <= index < len(RECORDED) else b""
    return b"unknown control request"


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        try:
            self.serve(sock)
        except (ConnectionError, ssl.SSLError, OSError):
            pass

    def serve(self, sock):
        head, rest = read_head(sock, b"")
        if head is None:
            return
        request_line = head.split(b"\r\n", 1)[0]
        parts = request_line.split(b" ")
        method = parts[0]
        path = parts[1].decode("latin-1") if len(parts) > 1 else "/"
        length = int(header_value(head, b"Content-Length") or b"0")
        if (header_value(head, b"Expect") or b"").lower() == b"100-continue":
            sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")

        if path.startswith("/_control/"):
            body = self.read_body(sock, rest, length, length)
            reply = control(path, method, body)
            sock.sendall(answer_bytes({"body_hex": reply.hex(),
                                       "headers": [["Content-Type", "application/octet-stream"]]}, 0))
            return

        with STATE_LOCK:
            answer = SCRIPT.pop(0) if SCRIPT else {}
        fault = answer.get("fault")
        if fault == "reset":
            wanted = int(answer.get("after", length))
        elif fault == "stall":
            wanted = int(answer.get("after", 0))
        else:
            wanted = length
        if DISCARD:
            got = self.drain(sock, rest, length)
        else:
            body = self.read_body(sock, rest, length, wanted)
            got = len(body)
            with STATE_LOCK:
                RECORDED.append(head + body)
        if answer.get("delay"):
            time.sleep(float(answer["delay"]))
        if answer.get("hold"):
            RELEASE.wait(float(answer["hold"]))
            RELEASE.clear()
        if fault == "reset":
            reset(sock)
            return
        if fault == "close":
            sock.close()
            return
        if fault == "stall_answer":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\npartial")
        if fault == "trickle":
            sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n")
            end = time.monotonic() + float(answer.get("seconds", 60))
            try:
                while time.monotonic() < end:
                    sock.sendall(b"x")
                    time.sleep(float(answer.get("interval", 0.5)))
            except OSError:
                pass
            sock.close()
            return
        if fault in ("stall", "stall_answer"):
            time.sleep(float(answer.get("seconds", 60)))
            sock.close()
            return
        if "stream" in answer:
            self.stream(sock, int(answer["stream"]), answer.get("pattern", "0123456789").encode("utf-8"))
            return
        sock.sendall(answer_bytes(answer, got))
        try:
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    @staticmethod
    def stream(sock, count, pattern):
        sock.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n")
        block = pattern * (65540 // len(pattern))
        sent = 0
        while count < 0 or sent < count:
            piece = block if count < 0 else block[:count - sent]
            sock.sendall(piece)
            sent += len(piece)
        sock.close()

    @staticmethod
    def read_body(sock, rest, length, wanted):
        body = bytearray(rest[:wanted])
        while len(body) < min(length, wanted):
            chunk = sock.recv(min(1 << 20, min(length, wanted) - len(body)))
            if not chunk:
                break
            body += chunk
        return bytes(body)

    @staticmethod
    def drain(sock, rest, length):
        got = len(rest)
        buf = bytearray(1 << 20)
        view = memoryview(buf)
        while got < length:
            n = sock.recv_into(view, min(len(buf), length - got))
            if not n:
                break
            got += n
        return got


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


class TlsServer(Server):
    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        sock, address = super().get_request()
        return self.context.wrap_socket(sock, server_side=True), address


def write_port(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(port))
    os.replace(tmp, path)


def main():
    global DISCARD
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--tls-port-file")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--discard", action="store_true")
    parser.add_argument("--host", default="127.0.0.1", help="the address to serve on")
    args = parser.parse_args()
    DISCARD = args.discard

    servers = [Server((args.host, 0), Handler)]
    write_port(args.port_file, servers[0].server_address[1])
    if args.tls_port_file:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        servers.append(TlsServer((args.host, 0), Handler, context))
        write_port(args.tls_port_file, servers[1].server_address[1])
    for server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
