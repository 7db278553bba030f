#!/usr/bin/python3
"""Requests a hostile client sends, against each example receiver started by with_servers.sh
(PL5_EXAMPLE_RECEIVERS=1): one table, every case once against every receiver. After each case
the folder holds only generated names (no extension a web server would run, nothing half
written), what the case expects is kept and nothing else, and the receiver still answers the
next request."""
import json
import os
import re
import secrets
import socket
import sys
import time

DIR = os.environ["PL5_RECEIVER_DIR"]
MAX_FILE = int(os.environ["PL5_RECEIVER_MAX_FILE"])
MAX_REQUEST = int(os.environ["PL5_RECEIVER_MAX_REQUEST"])
RECEIVERS = [  # name, port, path, upload folder
    ("php", int(os.environ["PL5_RECEIVER_PHP_PORT"]), "/receive.php", os.path.join(DIR, "pelora5-uploads")),
    ("node", int(os.environ["PL5_RECEIVER_NODE_PORT"]), "/", os.path.join(DIR, "node")),
    ("python", int(os.environ["PL5_RECEIVER_PYTHON_PORT"]), "/", os.path.join(DIR, "python")),
]
STORED = re.compile(r"^[0-9a-f]{32}(\.json)?$")
PHP_CODE = b'<?php echo "EXECUTED-" . (6 * 7); ?>\n'
HANGUL = "\uac00" * 200 + ".txt"  # about 600 bytes in UTF-8


def body(parts):
    """parts: (headers after Content-Disposition: form-data, content); returns type and body."""
    boundary = "----pl5hostile" + secrets.token_hex(8)
    out = b""
    for disposition, content in parts:
        out += b"--%s\r\nContent-Disposition: form-data; %s\r\n\r\n%s\r\n" % (boundary.encode(), disposition, content)
    return "multipart/form-data; boundary=" + boundary, out + b"--%s--\r\n" % boundary.encode()


def file_part(name, content, field=b"file"):
    return (b'name="%s"; filename="%s"' % (field, name.encode("utf-8")), content)


def exchange(port, head, data, cut=False):
    """Sends a request (HTTP/1.0: the answer ends with the connection) and reads the answer; a
    receiver may refuse before it has read the whole body, so a send that fails is not an error.
    With cut, only half the body is sent before the connection is ended."""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=60)
    except OSError as error:
        return None, "no connection: %s" % error
    with s:
        try:
            s.sendall(head + (data[: len(data) // 2] if cut else data))
            if cut:
                s.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        answer = b""
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                answer += chunk
        except OSError:
            pass
    match = re.match(rb"HTTP/1\.[01] (\d+)[^\r]*\r\n.*?\r\n\r\n", answer, re.S)
    if not match:
        return None, ""
    return int(match.group(1)), answer[match.end():].decode("utf-8", "replace")


def post(port, path, parts, cut=False):
    ctype, data = body(parts)
    head = b"POST %s HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n" % (
        path.encode(), ctype.encode(), len(data))
    return exchange(port, head, data, cut)


def post_cut(port, path, parts):
    return post(port, path, parts, cut=True)


def get(port, path):
    return exchange(port, b"GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" % path.encode(), b"")[1]


def kept(folder, before):
    """The side files of this case's stored files: {stored name: side file's data}."""
    out = {}
    for entry in set(os.listdir(folder)) - before:
        if entry.endswith(".json"):
            with open(os.path.join(folder, entry), encoding="utf-8") as f:
                out[entry[:-5]] = json.load(f)
    return out


def folder_failing(folder):
    """The upload folder becomes a plain file while the case runs."""
    os.rename(folder, folder + ".away")
    open(folder, "w").close()


def folder_back(folder):
    os.remove(folder)
    os.rename(folder + ".away", folder)


small = [file_part("ok.txt", b"small")]
CASES = [  # name, send, parts, expected status (None: any), names expected kept (in any order)
    ("a PHP script", post, [file_part("evil.php", PHP_CODE)], 200, ["evil.php"]),
    ("200 Hangul characters", post, [file_part(HANGUL, b"hangul")], 200,
     [HANGUL.encode("utf-8")[:255].decode("utf-8", "ignore")]),
    ("a name of 300 bytes", post, [file_part("n" * 296 + ".txt", b"long")], 200, ["n" * 255]),
    ("2,000 files", post, [file_part("f%d.txt" % i, b"x") for i in range(2000)], 413, []),
    ("a file over the file limit", post, small + [file_part("big.bin", b"\0" * (MAX_FILE + 1))], 413, []),
    ("a body over the request limit", post,
     [file_part("p%d.bin" % i, b"\1" * (MAX_FILE - 1000)) for i in range(MAX_REQUEST // MAX_FILE + 1)], 413, []),
    ("101 fields", post, small + [(b'name="f%d"' % i, b"v") for i in range(101)], 413, []),
    ("a body cut inside a part", post_cut, small + [file_part("cut.bin", b"\2" * 200000)], None, []),
    ("parts without a filename", post,
     small + [(b'name="nofilename"', b"a field after all"), (b'name="empty"; filename=""', b"dropped")],
     200, ["ok.txt"]),
    ("duplicate names", post, [file_part("same.txt", b"first"), file_part("same.txt", b"second")], 200,
     ["same.txt", "same.txt"]),
    ("path traversal", post, [file_part("..\\..\\x", b"1"), file_part("/etc/passwd", b"2"),
                              file_part("../../y", b"3"), file_part("..", b"4")], 200, ["x", "passwd", "y", "file"]),
    ("a folder that cannot be written", post, small, 500, []),
]


def run_case(receiver, case):
    name, port, path, folder = receiver
    title, send, parts, want_status, want_names = case
    before = set(os.listdir(folder)) if os.path.isdir(folder) else set()  # PHP makes it on first use
    failing = title == "a folder that cannot be written"
    if failing:
        folder_failing(folder)
    try:
        status, text = send(port, path, parts)
    finally:
        if failing:
            folder_back(folder)
    problems = []
    if status is None and send is post:
        problems.append("no answer: %s" % text)
    elif want_status is not None and status != want_status:
        problems.append("answered %s, expected %s: %s" % (status, want_status, text[:200]))
    if send is post and (status or 0) >= 400 and ("/" in text or not text.startswith("error: ")):
        problems.append("the refusal is not one generic line: %r" % text[:200])
    # A cut request is cleaned up when the receiver notices the end: waited for, within a bound.
    deadline = time.time() + (15 if send is post_cut else 0)
    while True:
        stored = kept(folder, before)
        leftovers = sorted(set(os.listdir(folder)) - before - set(stored) - {s + ".json" for s in stored})
        if not leftovers and len(stored) == len(want_names) or time.time() > deadline:
            break
        time.sleep(0.1)
    if leftovers:
        problems.append("left in the folder: %s" % leftovers[:5])
    if sorted(d["name"] for d in stored.values()) != sorted(want_names):
        problems.append("kept %s, expected %s" % (sorted(d["name"] for d in stored.values())[:5], want_names[:5]))
    contents = {b for _, b in parts}
    for file_id, data in stored.items():
        with open(os.path.join(folder, file_id), "rb") as f:
            content = f.read()
        if content not in contents or data["size"] != len(content):
            problems.append("%s holds other bytes than were sent" % data["name"])
    for entry in os.listdir(folder):
        if not STORED.match(entry):
            problems.append("a stored name that is not generated: %s" % entry)
    for stored_id in stored:
        for url in ("/evil.php", "/uploads/evil.php", "/pelora5-uploads/" + stored_id, "/" + stored_id):
            if "EXECUTED-42" in get(port, url):
                problems.append("GET %s ran the uploaded script" % url)
    for outside in ("x", "y", "passwd"):
        if os.path.exists(os.path.join(DIR, outside)) or os.path.exists(os.path.join(os.path.dirname(DIR), outside)):
            problems.append("a file named %s left the folder" % outside)
    status, text = post(port, path, [file_part("next.txt", b"next")])
    if status != 200 or not text.endswith(" next.txt\n"):
        problems.append("the next request was answered %s: %s" % (status, text[:200]))
    return problems


def main():
    failures = 0
    for receiver in RECEIVERS:
        for case in CASES:
            for problem in run_case(receiver, case):
                failures += 1
                print("FAIL: %s, %s: %s" % (receiver[0], case[0], problem))
    print("hostile requests: %d cases against %d receivers, %d failures" % (len(CASES), len(RECEIVERS), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
