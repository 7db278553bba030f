#!/usr/bin/python3
"""Receiver for the Pelora5 upload control, for Python servers, on the multipart parser that
Debian packages as python3-multipart.

Stores every uploaded file under the upload folder with a safe name and answers with a short
plain text the page can show: one line per stored file ("stored SIZE SHA256 NAME") and per field
("field NAME = VALUE"). A request larger than --max-request or a file larger than --max-file is
refused with 413 and nothing of it is kept.

  /usr/bin/python3 receive.py --port 8080 --folder /srv/uploads
"""
import argparse
import hashlib
import http.server
import os
import re
import sys
import tempfile

from multipart.multipart import MultipartParser, parse_options_header


def text_of(raw, upload):
    """Names and values arrive in UTF-8 when the page sets UseUnicode, otherwise in the sender's
    ANSI code page (taken to be Korean unless --legacy-charset says otherwise)."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        upload.legacy_seen = True
        return raw.decode(upload.legacy, errors="replace")


def safe_name(name):
    """The last part of the client's path (either separator), without control characters and the
    characters that file systems or shells give a meaning; never empty, "." or ".."."""
    name = re.split(r"[\\/]", name)[-1]
    name = re.sub(r'[\x00-\x1f\x7f<>:"|?*]', "_", name).strip(" .")
    return (name or "file")[:200]


def unused_path(folder, name):
    """A new file in the folder: "a.txt", else "a (2).txt", "a (3).txt", ... (created at once, so
    two requests never pick the same name)."""
    stem, ext = os.path.splitext(name)
    n = 1
    while True:
        path = os.path.join(folder, name if n == 1 else "%s (%d)%s" % (stem, n, ext))
        try:
            os.close(os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o640))
            return path
        except FileExistsError:
            n += 1


class TooLarge(Exception):
    pass


class Upload:
    """One request's parts, fed by the parser's callbacks."""

    def __init__(self, folder, legacy, max_file):
        self.folder, self.legacy, self.max_file = folder, legacy, max_file
        self.lines, self.stored = [], []
        self.header_field = self.header_value = b""
        self.headers = {}
        self.part = None
        # Set when a text came in the legacy code page: the answer then goes back in it too,
        # because the control reads the answer in the code page it sent with.
        self.legacy_seen = False

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
        setattr(self, attr, getattr(self, attr) + data[start:end])

    def part_begin(self):
        self.headers, self.part = {}, None

    def header_end(self):
        self.headers[self.header_field.lower()] = self.header_value
        self.header_field = self.header_value = b""

    def headers_finished(self):
        _, options = parse_options_header(self.headers.get(b"content-disposition", b""))
        name = text_of(options.get(b"name", b""), self)
        if b"filename" in options:
            handle = tempfile.NamedTemporaryFile(dir=self.folder, prefix=".part-", delete=False)
            self.part = {"field": name, "filename": options[b"filename"], "file": handle,
                         "size": 0, "sha256": hashlib.sha256()}
        else:
            self.part = {"field": name, "value": b""}

    def part_data(self, data, start, end):
        chunk = data[start:end]
        if "file" not in self.part:
            self.part["value"] += chunk
            return
        self.part["size"] += len(chunk)
        if self.part["size"] > self.max_file:
            raise TooLarge()
        self.part["file"].write(chunk)
        self.part["sha256"].update(chunk)

    def part_end(self):
        part = self.part
        if "file" not in part:
            self.lines.append("field %s = %s" % (part["field"], text_of(part["value"], self)))
            return
        part["file"].close()
        if not part["filename"]:
            os.unlink(part["file"].name)  # an empty file input of a form
            return
        path = unused_path(self.folder, safe_name(text_of(part["filename"], self)))
        os.replace(part["file"].name, path)
        self.stored.append(path)
        self.lines.append("stored %d %s %s" % (part["size"], part["sha256"].hexdigest(),
                                               os.path.basename(path)))

    def discard(self):
        if self.part and "file" in self.part:
            self.part["file"].close()
            os.unlink(self.part["file"].name)
        for path in self.stored:
            os.unlink(path)


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self, status, text, charset="utf-8"):
        body = text.encode(charset, errors="replace")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=" + charset)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        options = self.server.options
        ctype, params = parse_options_header(self.headers.get("Content-Type", ""))
        length = int(self.headers.get("Content-Length") or 0)
        if ctype != b"multipart/form-data" or b"boundary" not in params:
            return self.answer(400, "error: send the files as multipart/form-data\n")
        if length > options.max_request:
            self.close_connection = True
            return self.answer(413, "error: the upload is larger than %d bytes\n" % options.max_request)
        upload = Upload(options.folder, options.legacy_charset, options.max_file)
        parser = MultipartParser(params[b"boundary"], upload.callbacks())
        left = length
        try:
            while left > 0:
                chunk = self.rfile.read(min(left, 65536))
                if not chunk:
                    break
                left -= len(chunk)
                parser.write(chunk)
            parser.finalize()
        except TooLarge:
            upload.discard()
            # The rest of the body is read and dropped, so the client is still listening when
            # the answer comes (the request's length was checked against --max-request).
            while left > 0:
                chunk = self.rfile.read(min(left, 65536))
                if not chunk:
                    break
                left -= len(chunk)
            return self.answer(413, "error: a file is larger than %d bytes\n" % options.max_file)
        except Exception as error:  # a malformed body: nothing of it is kept
            upload.discard()
            return self.answer(400, "error: %s\n" % error)
        self.answer(200, "\n".join(upload.lines) + "\n",
                    upload.legacy if upload.legacy_seen else "utf-8")

    def log_message(self, format, *args):
        sys.stderr.write("receive.py: " + (format % args) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8080)
    parser.add_argument("--folder", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "uploads"))
    parser.add_argument("--max-file", type=int, default=64 * 1024 * 1024)
    parser.add_argument("--max-request", type=int, default=256 * 1024 * 1024)
    parser.add_argument("--legacy-charset", default="cp949")
    parser.add_argument("--port-file", help="write the port here once listening (port 0 picks one)")
    options = parser.parse_args()
    os.makedirs(options.folder, exist_ok=True)
    server = http.server.ThreadingHTTPServer((options.host, options.port), Handler)
    server.options = options
    if options.port_file:
        with open(options.port_file + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.replace(options.port_file + ".tmp", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
