#!/usr/bin/python3
"""Receiver for the Pelora5 upload control, for Python servers, on the multipart parser that
Debian packages as python3-multipart.

Stores every uploaded file in the upload folder under a generated name ("<32 hex digits>", no
extension) with a side file "<name>.json" that keeps the client's file name (made safe), its field,
size and SHA-256 as data; answers with a short plain text the page can show: one line per stored
file ("stored SIZE SHA256 NAME") and per field ("field SIZE NAME": the value is not echoed). A
request over one of the limits is answered 413, a request that is not a whole multipart body 400, a
folder that cannot take the files 500; in every such case nothing of the request is kept.

A request with an Idempotency-Key header (a quoted key: "8e03978e-40d5-43e8-bc93-6894a57f9324") is
stored once: its answer is remembered for a day, and the same key again, as a client sends it when
the answer was lost, gets that answer and stores nothing. A key whose request is still being
received is answered 409, a key sent again with a request of another length 422, a malformed key
400.

A WSGI application (`receive:application`) for any WSGI server, and a small threaded server of
its own for trying it out:

  /usr/bin/python3 receive.py --port 8080

Settings, from the environment (or the options of the standalone server):
  PL5_UPLOAD_DIR      the upload folder; default: "pelora5-uploads" beside the folder of this
                      script (never under it), created readable by this user only
  PL5_MAX_FILE        bytes per file (64 MiB)          PL5_MAX_FILES    files per request (100)
  PL5_MAX_FIELDS      fields per request (100)         PL5_MAX_REQUEST  bytes per request (256 MiB)
  PL5_MAX_FIELD_BYTES bytes of all field values together (64 KiB)
  PL5_MAX_KEYS        idempotency keys remembered (10,000; past that, the oldest are forgotten)
  PL5_LEGACY_CHARSET  the code page of names that are not UTF-8 (cp949)
"""
import argparse
import base64
import hashlib
import json
import os
import re
import secrets
import socketserver
import sys
import time
import wsgiref.simple_server

from multipart.multipart import MultipartParser, parse_options_header

HERE = os.path.dirname(os.path.abspath(__file__))
SETTINGS = {
    "folder": ("PL5_UPLOAD_DIR", str, os.path.join(os.path.dirname(HERE), "pelora5-uploads")),
    "max_file": ("PL5_MAX_FILE", int, 64 * 1024 * 1024),
    "max_files": ("PL5_MAX_FILES", int, 100),
    "max_fields": ("PL5_MAX_FIELDS", int, 100),
    "max_request": ("PL5_MAX_REQUEST", int, 256 * 1024 * 1024),
    "max_field_bytes": ("PL5_MAX_FIELD_BYTES", int, 64 * 1024),
    "max_keys": ("PL5_MAX_KEYS", int, 10000),
    "legacy": ("PL5_LEGACY_CHARSET", str, "cp949"),
}
# A stored client name is data, but it is still kept short enough for any file system.
NAME_BYTES = 255
# A part's headers are kept in memory until they end.
MAX_PART_HEADERS = 16 * 1024
# An Idempotency-Key is a structured-field string: quoted, of characters safe anywhere.
KEY = re.compile(r'"([A-Za-z0-9._:+/=-]{1,128})"')
KEY_SECONDS = 24 * 3600
REASONS = {200: "OK", 400: "Bad Request", 405: "Method Not Allowed", 409: "Conflict", 411: "Length Required",
           413: "Content Too Large", 422: "Unprocessable Content", 500: "Internal Server Error"}


def settings_from_environment():
    return {key: kind(os.environ.get(variable) or default) for key, (variable, kind, default) in SETTINGS.items()}


def log(text):
    sys.stderr.write("receive.py: %s\n" % text)


class Refused(Exception):
    """Ends a request with an HTTP status and a text that names no path."""

    def __init__(self, status, text):
        super().__init__(text)
        self.status, self.text = status, text


def safe_text(text):
    """A name shown in the answer: one line, whatever it holds."""
    return re.sub(r"[\x00-\x1f\x7f]", "_", text)


def safe_name(name):
    """The last part of the client's path (either separator), without control characters and the
    characters that file systems or shells give a meaning; never empty, "." or ".."; at most
    NAME_BYTES bytes in UTF-8, never cut inside a character."""
    name = re.split(r"[\\/]", name)[-1]
    name = re.sub(r'[<>:"|?*]', "_", safe_text(name)).strip(" .") or "file"
    return name.encode("utf-8")[:NAME_BYTES].decode("utf-8", errors="ignore")


class Upload:
    """One request's parts, fed by the parser's callbacks. Files go to "<id>.part" files, which
    become "<id>" and "<id>.json" only once the whole request has arrived within the limits."""

    def __init__(self, settings):
        self.settings = settings
        self.lines, self.files = [], []
        self.fields = self.field_bytes = 0
        self.header_field, self.header_value = bytearray(), bytearray()
        self.header_bytes = 0
        self.headers = {}
        self.part = None
        # Set when a text came in the legacy code page: the answer then goes back in it too,
        # because the control reads the answer in the code page it sent with.
        self.legacy_seen = False

    def text_of(self, raw):
        """Names and values arrive in UTF-8 when the page sets UseUnicode, otherwise in the
        sender's ANSI code page."""
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            self.legacy_seen = True
            return raw.decode(self.settings["legacy"], errors="replace")

    def callbacks(self):
        return {
            "on_part_begin": self.part_begin,
            "on_header_field": lambda d, s, e: self.add(d, s, e, "header_field"),
            "on_header_value": lambda d, s, e: self.add(d, s, e, "header_value"),
            "on_header_end": self.header_end,
            "on_headers_finished": self.headers_finished,
            "on_part_data": self.part_data,
            "on_part_end": self.part_end,
        }

    def add(self, data, start, end, attr):
        self.header_bytes += end - start
        if self.header_bytes > MAX_PART_HEADERS:
            raise Refused(400, "a part's headers are longer than %d bytes" % MAX_PART_HEADERS)
        getattr(self, attr).extend(data[start:end])

    def part_begin(self):
        self.headers, self.part, self.header_bytes = {}, None, 0

    def header_end(self):
        self.headers[bytes(self.header_field).lower()] = bytes(self.header_value)
        self.header_field, self.header_value = bytearray(), bytearray()

    def headers_finished(self):
        _, options = parse_options_header(self.headers.get(b"content-disposition", b""))
        field = self.text_of(options.get(b"name", b""))
        filename = options.get(b"filename")
        if filename is None:
            self.fields += 1
            if self.fields > self.settings["max_fields"]:
                raise Refused(413, "more than %d fields" % self.settings["max_fields"])
            self.part = {"field": field, "size": 0}
            return
        if not filename:  # an empty file input of a form: its content is dropped
            self.part = {"skip": True}
            return
        if len(self.files) >= self.settings["max_files"]:
            raise Refused(413, "more than %d files" % self.settings["max_files"])
        file_id = secrets.token_hex(16)
        path = os.path.join(self.settings["folder"], file_id)
        try:
            handle = os.fdopen(os.open(path + ".part", os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o600), "wb")
        except OSError as error:
            log("cannot create %s.part: %s" % (path, error))
            raise Refused(500, "the upload could not be stored")
        self.part = {"field": field, "name": safe_name(self.text_of(filename)), "path": path,
                     "file": handle, "size": 0, "sha256": hashlib.sha256()}
        self.files.append(self.part)
        self.lines.append(None)  # answered in the order the parts arrived
        self.part["line"] = len(self.lines) - 1

    def part_data(self, data, start, end):
        part, chunk = self.part, data[start:end]
        if part.get("skip"):
            return
        if "file" not in part:  # counted, never kept: the answer names the field and its size
            part["size"] += len(chunk)
            self.field_bytes += len(chunk)
            if self.field_bytes > self.settings["max_field_bytes"]:
                raise Refused(413, "the fields are longer than %d bytes" % self.settings["max_field_bytes"])
            return
        part["size"] += len(chunk)
        if part["size"] > self.settings["max_file"]:
            raise Refused(413, "a file is larger than %d bytes" % self.settings["max_file"])
        try:
            part["file"].write(chunk)
        except OSError as error:
            log("cannot write %s.part: %s" % (part["path"], error))
            raise Refused(500, "the upload could not be stored")
        part["sha256"].update(chunk)

    def part_end(self):
        part = self.part
        if part.get("skip"):
            return
        if "file" not in part:
            self.lines.append("field %d %s" % (part["size"], safe_text(part["field"])))
            return
        try:
            part["file"].close()
        except OSError as error:
            log("cannot write %s.part: %s" % (part["path"], error))
            raise Refused(500, "the upload could not be stored")
        self.lines[part["line"]] = "stored %d %s %s" % (part["size"], part["sha256"].hexdigest(), part["name"])

    def keep(self):
        """Turns every part file into its stored file and side file; all of them or none."""
        try:
            for part in self.files:
                os.replace(part["path"] + ".part", part["path"])
                part["kept"] = True
                data = {key: part[key] for key in ("name", "field", "size")}
                data.update(sha256=part["sha256"].hexdigest(), received=time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()))
                with open(os.open(part["path"] + ".json.part", os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o600), "w") as f:
                    json.dump(data, f, ensure_ascii=False, separators=(",", ":"))
                os.replace(part["path"] + ".json.part", part["path"] + ".json")
        except OSError as error:
            log("cannot store %s: %s" % (self.settings["folder"], error))
            raise Refused(500, "the upload could not be stored")

    def discard(self):
        for part in self.files:
            if not part["file"].closed:
                try:
                    part["file"].close()
                except OSError:
                    pass
            for suffix in (".part", ".json.part", ".json", "") if part.get("kept") else (".part",):
                try:
                    os.unlink(part["path"] + suffix)
                except FileNotFoundError:
                    pass
                except OSError as error:
                    log("cannot remove %s%s: %s" % (part["path"], suffix, error))


class Keys:
    """The answers of stored requests by their Idempotency-Key, each remembered for a day in
    "<upload folder>/keys/<SHA-256 of the key>": an empty file while its request is received, then
    the answer. Creating that file is the lock: of two requests with one key, one creates it and
    the other is answered 409. At most max_keys are kept; past that, the oldest are forgotten."""

    def __init__(self, settings):
        self.folder, self.limit = os.path.join(settings["folder"], "keys"), settings["max_keys"]

    def path(self, key):
        return os.path.join(self.folder, hashlib.sha256(key.encode("ascii")).hexdigest())

    def claim(self, key):
        """The key's remembered answer, or None once this request holds the key."""
        path = self.path(key)
        for _ in range(2):  # a key released between the two looks is tried again
            try:
                os.makedirs(self.folder, mode=0o700, exist_ok=True)
                os.close(os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o600))
                return None
            except FileExistsError:
                pass
            except OSError as error:
                log("cannot create %s: %s" % (path, error))
                raise Refused(500, "the upload could not be stored")
            try:
                with open(path, "rb") as f:
                    record = f.read()
            except FileNotFoundError:
                continue
            if record:
                return json.loads(record)
            break
        raise Refused(409, "an upload with this key is still being received")

    def settle(self, key, length, answer):
        status, ctype, body = answer
        path = self.path(key)
        temporary = "%s.%s.tmp" % (path, secrets.token_hex(8))
        record = {"status": status, "length": length, "type": ctype, "body": base64.b64encode(body).decode()}
        try:
            with open(os.open(temporary, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o600), "w") as f:
                json.dump(record, f)
            os.replace(temporary, path)
        except OSError as error:
            log("cannot remember the answer in %s: %s" % (path, error))
            self.forget(temporary)
            raise Refused(500, "the upload could not be stored")
        self.prune()

    def release(self, key):
        self.forget(self.path(key))

    def forget(self, path):
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass
        except OSError as error:
            log("cannot remove %s: %s" % (path, error))

    def prune(self):
        """Forgets the keys older than a day, then the oldest past the limit."""
        entries = []
        for entry in os.scandir(self.folder):
            try:
                entries.append((entry.stat().st_mtime, entry.path))
            except FileNotFoundError:
                pass
        entries.sort()
        expired = time.time() - KEY_SECONDS
        for index, (mtime, path) in enumerate(entries):
            if index < len(entries) - self.limit or mtime < expired:
                self.forget(path)


class Body:
    """The request's body, read up to its stated length."""

    def __init__(self, stream, length):
        self.stream, self.left = stream, length

    def read(self):
        chunk = self.stream.read(min(self.left, 65536)) if self.left > 0 else b""
        self.left -= len(chunk)
        return chunk

    def drain(self):
        """Reads and drops the rest, so that the client is still listening when the answer comes
        (its length was checked against the request limit)."""
        while self.read():
            pass


def store(body, boundary, settings, remember):
    """Reads the parts and keeps the files: all of them, once the answer is ready and remember(answer)
    has recorded it, or none. Returns the answer: status, content type and body."""
    upload = Upload(settings)
    parser = MultipartParser(boundary, upload.callbacks())
    try:
        try:
            while body.left > 0:
                chunk = body.read()
                if not chunk:
                    raise Refused(400, "the request ended before its end")
                parser.write(chunk)
            parser.finalize()
        except Refused:
            raise
        except Exception as error:  # the parser's complaint about a malformed body
            log("malformed request: %r" % error)
            raise Refused(400, "the request is not a whole multipart body")
        if None in upload.lines:
            raise Refused(400, "the request ended inside a part")
        charset = settings["legacy"] if upload.legacy_seen else "utf-8"
        answer = 200, "text/plain; charset=" + charset, ("\n".join(upload.lines) + "\n").encode(charset, "replace")
        upload.keep()
        remember(answer)
        return answer
    except Refused:
        upload.discard()
        body.drain()
        raise


def receive(environ, settings, keys):
    """Reads one request; returns its answer: status, content type and body."""
    if environ.get("REQUEST_METHOD") != "POST":
        raise Refused(405, "send the files with POST")
    ctype, params = parse_options_header(environ.get("CONTENT_TYPE", ""))
    if ctype != b"multipart/form-data" or not params.get(b"boundary"):
        raise Refused(400, "send the files as multipart/form-data")
    try:
        length = int(environ.get("CONTENT_LENGTH") or "")
    except ValueError:
        raise Refused(411, "send the length of the request")
    if length > settings["max_request"]:
        raise Refused(413, "the upload is larger than %d bytes" % settings["max_request"])
    body = Body(environ["wsgi.input"], length)
    header = environ.get("HTTP_IDEMPOTENCY_KEY")
    key = KEY.fullmatch(header.strip()) if header is not None else None
    if header is not None and key is None:
        body.drain()
        raise Refused(400, "the Idempotency-Key is not a quoted key of up to 128 letters, digits and marks")
    if key is None:
        return store(body, params[b"boundary"], settings, lambda answer: None)
    key = key.group(1)
    try:
        remembered = keys.claim(key)
    except Refused:
        body.drain()
        raise
    if remembered is not None:  # the request was stored before: its answer again, and nothing kept
        body.drain()
        if remembered["length"] != length:
            raise Refused(422, "this key came with another upload")
        return remembered["status"], remembered["type"], base64.b64decode(remembered["body"])
    try:
        return store(body, params[b"boundary"], settings, lambda answer: keys.settle(key, length, answer))
    except BaseException:
        keys.release(key)
        raise


def make_folder(folder):
    os.makedirs(folder, mode=0o700, exist_ok=True)


def make_application(settings):
    make_folder(settings["folder"])
    keys = Keys(settings)

    def application(environ, start_response):
        try:
            status, ctype, body = receive(environ, settings, keys)
        except Refused as refusal:
            status, ctype, body = refusal.status, "text/plain; charset=utf-8", ("error: %s\n" % refusal.text).encode()
        except Exception as error:  # never a trace or a path in the answer
            log("failed: %r" % error)
            status, ctype, body = 500, "text/plain; charset=utf-8", b"error: the upload could not be stored\n"
        start_response("%d %s" % (status, REASONS.get(status, "Error")),
                       [("Content-Type", ctype), ("Content-Length", str(len(body))),
                        ("X-Content-Type-Options", "nosniff")])
        return [body]

    return application


def __getattr__(name):
    """`receive:application` for WSGI servers, made on first use from the environment."""
    if name == "application":
        globals()["application"] = make_application(settings_from_environment())
        return globals()["application"]
    raise AttributeError(name)


class Server(socketserver.ThreadingMixIn, wsgiref.simple_server.WSGIServer):
    daemon_threads = True


class Quiet(wsgiref.simple_server.WSGIRequestHandler):
    def log_message(self, format, *args):
        log(format % args)


def main():
    settings = settings_from_environment()
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8080)
    for key, (variable, kind, _) in SETTINGS.items():
        parser.add_argument("--" + key.replace("_", "-"), type=kind, default=settings[key], help=variable)
    parser.add_argument("--port-file", help="write the port here once listening (port 0 picks one)")
    options = parser.parse_args()
    settings = {key: getattr(options, key) for key in SETTINGS}
    server = wsgiref.simple_server.make_server(options.host, options.port, make_application(settings),
                                               server_class=Server, handler_class=Quiet)
    if options.port_file:
        with open(options.port_file + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(options.port_file + ".tmp", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
