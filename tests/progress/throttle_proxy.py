#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that passes requests to a target port at a limited rate, so that an
upload to the receiver behind it takes long enough for a person (or a test) to watch it and stop
it while file content is being sent. Answers come back unthrottled. A request whose address
carries "?rate=N" goes at N bytes per second instead; without --rate or "?rate", at full speed.

With --lose-answers N, the first N connections lose their answer: the request reaches the target
whole, and once the target answers, the client's connection is closed instead, as when a network
fails after the server has done its work. With --keys FILE, each connection's Idempotency-Key
header is written there, one line per connection ("-" for none).

  throttle_proxy.py --target PORT [--rate BYTES_PER_SECOND] [--lose-answers N] [--keys FILE] --port-file FILE
"""
import argparse
import os
import re
import socket
import sys
import threading
import time

CHUNK = 8192


def read_head(src, keys):
    """The request's first bytes, up to the end of its head, whose Idempotency-Key is written down."""
    head = b""
    while b"\r\n\r\n" not in head and len(head) < 65536 and (data := src.recv(CHUNK)):
        head += data
    key = re.search(rb"^idempotency-key:[ \t]*([^\r\n]*?)[ \t]*\r?$", head.split(b"\r\n\r\n")[0], re.I | re.M)
    with KEYS_LOCK, open(keys, "a", encoding="latin1") as f:
        f.write((key.group(1).decode("latin1") if key else "-") + "\n" if head else "")
    return head


KEYS_LOCK = threading.Lock()


def pump_throttled(src, dst, rate, keys=None):
    start = time.monotonic()
    sent = 0
    first = True
    try:
        while True:
            data = read_head(src, keys) if first and keys else src.recv(CHUNK)
            if not data:
                break
            if first:
                # A request may name its own rate in its address ("?rate=BYTES_PER_SECOND").
                first = False
                asked = re.search(rb"^[A-Z]+ [^ ]*[?&]rate=([0-9]+)", data)
                if asked and int(asked.group(1)) > 0:
                    rate = float(asked.group(1))
            dst.sendall(data)
            sent += len(data)
            # Sleep until the bytes so far fit the rate.
            ahead = sent / rate - (time.monotonic() - start) if rate else 0
            if ahead > 0:
                time.sleep(ahead)
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
        dst.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def lose(src, dst):
    """Waits for the first bytes of the answer and closes the client's connection instead."""
    try:
        src.recv(1)
        dst.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass


def serve(client, target, rate, keys, losing):
    try:
        upstream = socket.create_connection(("127.0.0.1", target))
    except OSError:
        client.close()
        return
    down = threading.Thread(target=lose if losing else pump, args=(upstream, client), daemon=True)
    down.start()
    pump_throttled(client, upstream, rate, keys)
    down.join()
    for s in (upstream, client):
        try:
            s.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--rate", type=float, default=0, help="0: as fast as the target takes it")
    parser.add_argument("--lose-answers", type=int, default=0)
    parser.add_argument("--keys")
    parser.add_argument("--port-file", required=True)
    args = parser.parse_args()

    listener = socket.socket()
    # A small receive buffer keeps the sender from parking megabytes in the kernel, so its
    # writes follow the rate.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(tmp, args.port_file)
    connections = 0
    while True:
        client, _ = listener.accept()
        connections += 1
        losing = connections <= args.lose_answers
        threading.Thread(target=serve, args=(client, args.target, args.rate, args.keys, losing), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
    sys.exit(0)
