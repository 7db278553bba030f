#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that passes requests to a target port at a limited rate, so that an
upload to the receiver behind it takes long enough for a person (or a test) to watch it and stop
it while file content is being sent. Answers come back unthrottled. A request whose address
carries "?rate=N" goes at N bytes per second instead.

  throttle_proxy.py --target PORT --rate BYTES_PER_SECOND --port-file FILE
"""
import argparse
import os
import re
import socket
import sys
import threading
import time

CHUNK = 8192


def pump_throttled(src, dst, rate):
    start = time.monotonic()
    sent = 0
    first = True
    try:
        while True:
            data = src.recv(CHUNK)
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
            ahead = sent / rate - (time.monotonic() - start)
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


def serve(client, target, rate):
    try:
        upstream = socket.create_connection(("127.0.0.1", target))
    except OSError:
        client.close()
        return
    down = threading.Thread(target=pump, args=(upstream, client), daemon=True)
    down.start()
    pump_throttled(client, upstream, rate)
    down.join()
    for s in (upstream, client):
        try:
            s.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--rate", type=float, required=True)
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
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, args.target, args.rate), daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
    sys.exit(0)
