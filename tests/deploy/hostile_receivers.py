#!/usr/bin/python3
"""A hostile client's requests against each example receiver started by with_servers.sh
(PL5_EXAMPLE_RECEIVERS=1): one table, every case once against every receiver it applies to.
After each case the folder holds only generated names (nothing a web server would run, nothing
half written), exactly what the case expects is kept, every answer says nosniff, and the receiver
still answers the next request. Then each receiver's memory of idempotency keys is checked for its
bound and its day."""
import hashlib
import json
import os
import re
import secrets
import shutil
import socket
import sys
import time

DIR = os.environ["PL5_RECEIVER_DIR"]
MAX_FILE, MAX_REQUEST = int(os.environ["PL5_RECEIVER_MAX_FILE"]), int(os.environ["PL5_RECEIVER_MAX_REQUEST"])
MAX_KEYS = int(os.environ["PL5_RECEIVER_MAX_KEYS"])
RECEIVERS = [  # name, port, path, upload folder, document root (None: it serves no files)
    ("php", int(os.environ["PL5_RECEIVER_PHP_PORT"]), "/receive.php", os.path.join(DIR, "pelora5-uploads"),
     os.path.join(DIR, "site")),
    ("node", int(os.environ["PL5_RECEIVER_NODE_PORT"]), "/", os.path.join(DIR, "node"), None),
    ("python", int(os.environ["PL5_RECEIVER_PYTHON_PORT"]), "/", os.path.join(DIR, "python"), None),
]
NOSNIFF = re.compile(r"^x-content-type-options:[ \t]*nosniff[ \t]*\r?$", re.I | re.M)
HANGUL = "\uac00" * 200 + ".txt"  # about 600 bytes in UTF-8


def file_part(name, content):
    return (b'name="file"; filename="%s"' % name.encode("utf-8"), content)


def exchange(port, head, data=b"", cut=False):
    """Sends a request (HTTP/1.0: the answer ends with the connection) and reads the answer: status,
    body and headers; a receiver may refuse before it has read the body, so a send that fails is
    no error. With cut, half the body is sent and the connection ended."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=60) as s:
            try:
                s.sendall(head + (data[: len(data) // 2] if cut else data))
                if cut:
                    s.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            answer = b"".join(iter(lambda: s.recv(65536), b""))
    except OSError as error:
        return None, "no connection: %s" % error, ""
    match = re.match(rb"HTTP/1\.[01] (\d+)[^\r]*\r\n(.*?)\r\n\r\n", answer, re.S)
    if not match:
        return None, "", ""
    return int(match.group(1)), answer[match.end():].decode("utf-8", "replace"), match.group(2).decode("latin1")


def post(receiver, parts, cut=False, key=None):
    boundary = b"----pl5hostile" + secrets.token_hex(8).encode()
    data = b"".join(b"--%s\r\nContent-Disposition: form-data; %s\r\n\r\n%s\r\n" % (boundary, disposition, content)
                    for disposition, content in parts) + b"--%s--\r\n" % boundary
    head = b"POST %s HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=%s\r\nContent-Length: %d\r\n" % (
        receiver[2].encode(), boundary, len(data))
    head += b"Idempotency-Key: %s\r\n\r\n" % key.encode() if key is not None else b"\r\n"
    return exchange(receiver[1], head, data, cut)


def post_cut(receiver, parts):
    return post(receiver, parts, cut=True)


def new_key():
    return '"%s"' % secrets.token_hex(16)


def key_record(receiver, key):
    """Where a receiver remembers a key's answer: named by the SHA-256 of the key's text."""
    return os.path.join(receiver[3], "keys", hashlib.sha256(key.strip('"').encode()).hexdigest())


def post_twice(receiver, parts, more=()):
    """A request sent again with its key, as after a lost answer, or with more parts: another
    upload under an old key. The second answer, unless a repeat was answered otherwise."""
    key = new_key()
    first, again = post(receiver, parts, key=key), post(receiver, parts + list(more), key=key)
    return again if more or again[:2] == first[:2] else (None, "first %s %r, again %s %r" % (first[:2] + again[:2]), "")


def post_after_cut(receiver, parts):
    """A request cut inside its body, then sent whole with its key, once the receiver has let the
    key go."""
    key = new_key()
    post(receiver, parts, cut=True, key=key)
    deadline = time.time() + 15
    while os.path.exists(key_record(receiver, key)) and time.time() < deadline:
        time.sleep(0.05)
    return post(receiver, parts, key=key)


def post_while_received(receiver, parts):
    """A key whose request is still being received: its record is there and empty."""
    key = new_key()
    os.makedirs(os.path.dirname(key_record(receiver, key)), exist_ok=True)
    open(key_record(receiver, key), "w").close()
    try:
        return post(receiver, parts, key=key)
    finally:
        os.remove(key_record(receiver, key))


small = [file_part("ok.txt", b"small")]
MIB = 1024 * 1024
CASES = [  # name, send, parts, expected status (None: any), client names kept (in any order)
    ("a PHP script", post, [file_part("evil.php", b'<?php echo "EXECUTED-" . (6 * 7); ?>')], 200, ["evil.php"]),
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
    ("a part header of 4 MiB", post,
     small + [(b'name="file"; filename="big.txt"\r\nX-Padding: ' + b"h" * (MAX_REQUEST - 64 * 1024), b"x")], 400, []),
    ("fields of 1 MiB up to the request limit", post,
     small + [(b'name="f%d"' % i, b"v" * MIB) for i in range(MAX_REQUEST // MIB - 1)], 413, []),
    ("fields of 65 KiB together", post, small + [(b'name="f%d"' % i, b"v" * 1024) for i in range(65)], 413, []),
    ("a key sent again", post_twice, small, 200, ["ok.txt"]),
    ("a key sent again with another upload", lambda r, p: post_twice(r, p, [(b'name="more"', b"1")]), small, 422,
     ["ok.txt"]),
    ("a key whose request was cut", post_after_cut, small, 200, ["ok.txt"]),
    ("a key whose request is being received", post_while_received, small, 409, []),
    ("a malformed key", lambda r, p: post(r, p, key='"a key/with a space"'), small, 400, []),
    ("a folder inside the document root", post, small, 500, []),  # last: see run_case
]


def run_case(receiver, case):
    name, port, path, folder, root = receiver
    title, send, parts, want_status, want_names = case
    inside = os.path.join(root, "uploads") if root and title == "a folder inside the document root" else None
    if title == "a folder inside the document root" and not inside:
        return []  # a receiver that serves no files has no document root to keep out of
    before = set(os.listdir(folder)) if os.path.isdir(folder) else set()  # PHP makes it on first use
    problems = []
    failing = title == "a folder that cannot be written" or inside
    if failing:  # the upload folder is a plain file, or a link into the document root, while the request runs
        os.rename(folder, folder + ".away")
        if inside:
            os.mkdir(inside)
            os.symlink(inside, folder)
        else:
            open(folder, "w").close()
    started = time.time()
    try:
        status, text, head = send(receiver, parts)
    finally:
        if failing:
            os.remove(folder)
            os.rename(folder + ".away", folder)
        if inside:
            if os.listdir(inside):
                problems.append("stored inside the document root: %s" % sorted(os.listdir(inside))[:5])
            shutil.rmtree(inside)
    if time.time() - started > 20:
        problems.append("answered after %.0f s" % (time.time() - started))
    if want_status is not None and status != want_status:
        problems.append("answered %s, expected %s: %s" % (status, want_status, text[:200]))
    if want_status is not None and (status or 0) >= 400 and ("/" in text or not re.fullmatch(r"error: [^\n]*\n", text)):
        problems.append("the refusal is not one generic line: %r" % text[:200])
    if status is not None and not NOSNIFF.search(head):
        problems.append("the answer lacks X-Content-Type-Options: nosniff")
    # A cut request is cleaned up once the receiver notices the end: waited for, within a bound.
    deadline = time.time() + (15 if send in (post_cut, post_after_cut) else 0)
    while True:
        new = set(os.listdir(folder)) - before - {"keys"}
        kept = {}
        for entry in (e for e in new if e.endswith(".json")):
            with open(os.path.join(folder, entry), encoding="utf-8") as f:
                kept[entry[:-5]] = json.load(f)
        leftovers = sorted(new - set(kept) - {k + ".json" for k in kept})
        if not leftovers and len(kept) == len(want_names) or time.time() > deadline:
            break
        time.sleep(0.1)
    if leftovers:
        problems.append("left in the folder: %s" % leftovers[:5])
    if sorted(d["name"] for d in kept.values()) != sorted(want_names):
        problems.append("kept %s, expected %s" % (sorted(d["name"] for d in kept.values())[:5], want_names[:5]))
    for file_id, data in kept.items():
        with open(os.path.join(folder, file_id), "rb") as f:
            content = f.read()
        if content not in {c for _, c in parts} or data["size"] != len(content):
            problems.append("%s holds other bytes than were sent" % data["name"])
        for url in ("/evil.php", "/uploads/evil.php", "/pelora5-uploads/" + file_id, "/" + file_id):
            if "EXECUTED-42" in exchange(port, b"GET %s HTTP/1.0\r\n\r\n" % url.encode())[1]:
                problems.append("GET %s ran the uploaded script" % url)
    strange = [e for e in os.listdir(folder) if not re.fullmatch(r"[0-9a-f]{32}(\.json)?|keys", e)]
    strange += [e for e in keys_in(receiver) if not re.fullmatch(r"[0-9a-f]{64}", e)]
    if strange:
        problems.append("names in the folder that are not generated: %s" % strange[:5])
    problems += ["a file named %s left the folder" % n for n in ("x", "y", "passwd")
                 if os.path.exists(os.path.join(DIR, n)) or os.path.exists(os.path.join(os.path.dirname(DIR), n))]
    if inside:
        return problems  # PHP keeps the link's target (its realpath cache) and refuses for a while yet
    status, text, _ = post(receiver, [file_part("next.txt", b"next")])
    if status != 200 or not text.endswith(" next.txt\n"):
        problems.append("the next request was answered %s: %s" % (status, text[:200]))
    return problems


def keys_in(receiver):
    folder = os.path.join(receiver[3], "keys")
    return os.listdir(folder) if os.path.isdir(folder) else []


def check_key_memory(receiver):
    """Keys are remembered up to the bound, the newest kept, and a key older than a day is
    forgotten at the next one stored."""
    keys = [new_key() for _ in range(MAX_KEYS + 2)]
    for key in keys:
        post(receiver, small, key=key)
    newest, remembered = key_record(receiver, keys[-1]), len(keys_in(receiver))
    if remembered > MAX_KEYS or not os.path.exists(newest):
        return ["%d keys remembered (at most %d), the newest: %s" % (remembered, MAX_KEYS, os.path.exists(newest))]
    os.utime(newest, (time.time() - 2 * 24 * 3600,) * 2)
    post(receiver, small, key=new_key())
    return ["a key of two days ago is still remembered"] if os.path.exists(newest) else []


def main():
    failures = 0
    for receiver in RECEIVERS:
        # The key memory before the last case, after which PHP refuses for a while.
        for case in CASES[:-1] + [("the keys' memory", None)] + CASES[-1:]:
            problems = check_key_memory(receiver) if case[1] is None else run_case(receiver, case)
            for problem in problems:
                failures += 1
                print("FAIL: %s, %s: %s" % (receiver[0], case[0], problem))
    print("hostile requests: %d cases against %d receivers, %d failures" % (len(CASES), len(RECEIVERS), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
