#!/usr/bin/env python3
"""Drives the resumable receiver of examples/receivers/tus as a tus 1.0.0 client does, over plain
HTTP: creation, PATCH in chunks, a connection cut inside a chunk, HEAD for the offset and the rest,
then the form that names the uploads.
  tus_test.py         one receiver storing into its upload folder
  tus_test.py --s3    two receivers on the object store of PL5_S3_* (tests/servers/with_ceph.sh):
                      an upload cut on one continues on the other
"""
import base64
import hashlib
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse

RECEIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'examples', 'receivers', 'tus')
MAX_FILE = 64 * 1024 * 1024
TUS = {'Tus-Resumable': '1.0.0'}
PATCH = dict(TUS, **{'Content-Type': 'application/offset+octet-stream'})
failures = []
processes = []  # the receivers, ended when the test ends


def check(expected, got, what):
    if expected != got:
        failures.append(f'{what}: expected {expected!r}, got {got!r}')


def start_receivers(work, count, **env):
    ports = []
    for n in range(count):
        port_file = os.path.join(work, f'{n}.port')
        log = open(os.path.join(work, f'{n}.log'), 'wb')
        settings = dict(os.environ, PORT='0', PL5_PORT_FILE=port_file, PL5_MAX_FILE=str(MAX_FILE),
                        PL5_UPLOAD_DIR=os.path.join(work, 'uploads'), **env)
        processes.append(subprocess.Popen(['node', os.path.join(RECEIVER, 'receive.js')], stdout=log, stderr=log,
                                          env=settings))
        deadline = time.monotonic() + 30
        while not os.path.exists(port_file):
            if processes[-1].poll() is not None or time.monotonic() > deadline:
                sys.exit('FAIL: the receiver did not start: ' + open(log.name).read())
            time.sleep(0.05)
        ports.append(int(open(port_file).read()))
    return ports


def request(port, method, path, headers={}, body=b''):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    connection.request(method, urllib.parse.urlsplit(path).path, body=body, headers=headers)
    response = connection.getresponse()
    return response.status, response.headers, response.read()


def create(port, size, name):
    metadata = ','.join(f'{key} {base64.b64encode(value.encode()).decode()}'
                        for key, value in (('filename', name), ('fieldname', 'file')))
    status, headers, _ = request(port, 'POST', '/files', dict(TUS, **{'Upload-Length': str(size),
                                                                      'Upload-Metadata': metadata}))
    check(201, status, f'creation of {name}')
    return headers['Location']


def patch(port, url, offset, data):
    status, headers, _ = request(port, 'PATCH', url, dict(PATCH, **{'Upload-Offset': str(offset)}), data)
    check(204, status, f'PATCH at {offset}')
    return int(headers['Upload-Offset'])


def offset_of(port, url):
    return int(request(port, 'HEAD', url, TUS)[1]['Upload-Offset'])


def upload(port, data, name, chunk, cut_in=None, resume_port=None):
    """Sends data in chunks; the connection of chunk cut_in is lost halfway, and the rest goes from
    the offset that HEAD gives (at resume_port when given)."""
    url, offset, number = create(port, len(data), name), 0, 0
    while offset < len(data):
        piece = data[offset:offset + chunk]
        if number == cut_in:
            head = (f'PATCH {urllib.parse.urlsplit(url).path} HTTP/1.1\r\nHost: 127.0.0.1\r\nTus-Resumable: 1.0.0\r\n'
                    f'Upload-Offset: {offset}\r\nContent-Type: application/offset+octet-stream\r\n'
                    f'Content-Length: {len(piece)}\r\n\r\n')
            with socket.create_connection(('127.0.0.1', port)) as connection:
                connection.sendall(head.encode() + piece[:len(piece) // 2])
            settled = offset_of(port, url)  # answered once the cut request is handled
            port = resume_port or port
            check(settled, offset_of(port, url), f'{name}: offset after the cut from the other receiver')
            if not offset <= settled <= offset + len(piece) // 2:
                failures.append(f'{name}: offset {settled} after a cut at {offset} + {len(piece) // 2}')
            piece = data[settled:settled + chunk]
            offset = settled
        offset, number = patch(port, url, offset, piece), number + 1
    check(len(data), offset_of(port, url), f'{name}: final offset')
    return url


def form(port, uploads, fields=(), key=None, part=b''):
    boundary = 'pl5-tus-test-boundary'
    for number, (url, name, size) in enumerate(uploads, 1):
        fields += ((f'file{number}_url', url), (f'file{number}_name', name), (f'file{number}_size', str(size)))
    body = b''.join(f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n{value}\r\n'.encode()
                    for name, value in fields)
    if part:
        body += f'--{boundary}\r\nContent-Disposition: form-data; name="f"; filename="x"\r\n\r\n'.encode()
        body += part + b'\r\n'
    headers = {'Content-Type': f'multipart/form-data; boundary={boundary}'}
    if key:
        headers['Idempotency-Key'] = f'"{key}"'
    return request(port, 'POST', '/form', headers, body + f'--{boundary}--\r\n'.encode())


def stored_line(data, name):
    return f'stored {len(data)} {hashlib.sha256(data).hexdigest()} {name}'


def file_store(work):
    (port,) = start_receivers(work, 1)
    # Three files: one cut inside its second chunk and resumed, one in a single PATCH, one empty.
    files = [(os.urandom(3 * 1024 * 1024 + 123), 'video.mp4', 1), (os.urandom(1000), '한글 문서.txt', None),
             (b'', 'empty.txt', None)]
    uploads = [(upload(port, data, name, 1024 * 1024, cut_in), name, len(data)) for data, name, cut_in in files]
    status, headers, body = form(port, uploads, (('note', 'hello'),))
    check((200, 'nosniff'), (status, headers['X-Content-Type-Options']), 'form')
    check(['field 5 note'] + [stored_line(data, name) for data, name, _ in files], body.decode().splitlines(), 'answer')
    for (data, name, _), (url, _, _) in zip(files, uploads):
        stored = os.path.join(work, 'uploads', url.rsplit('/', 1)[1])
        check(data, open(stored, 'rb').read(), f'{name}: stored bytes')
        check(name, json.load(open(stored + '.stored.json'))['name'], f'{name}: side file')

    # An answered form, sent again with its key, gets the same answer; another form under that key
    # is refused.
    first, again = form(port, uploads[1:2], key='form-key-1'), form(port, uploads[1:2], key='form-key-1')
    check((200, first[2]), (again[0], again[2]), 'the same form and key again')
    url, name, size = uploads[0]
    unfinished = create(port, 10, 'part.bin')
    patch(port, unfinished, 0, b'12345')
    other_id = url[:-1] + ('0' if url[-1] != '0' else '1')
    cases = [
        (422, lambda: form(port, uploads[:2], key='form-key-1')),
        (413, lambda: request(port, 'POST', '/files', dict(TUS, **{'Upload-Length': str(MAX_FILE + 1)}))),
        (405, lambda: request(port, 'GET', url)),
        (400, lambda: form(port, [(url.replace('127.0.0.1', 'uploads.example'), name, size)])),
        (400, lambda: form(port, [(url, name, size + 1)])),
        (409, lambda: form(port, [(unfinished, 'part.bin', 10)])),
        (400, lambda: form(port, [(other_id, name, size)])),
        (400, lambda: form(port, [(url.replace('/files/', '/files/../'), name, size)])),
        (400, lambda: form(port, [], (('file1_url', url), ('file1_size', str(size))))),
        (400, lambda: form(port, [(url, name, size)], part=b'data')),
        (400, lambda: form(port, [(url, name, size)], key='not a key')),
    ]
    for i, (expected, send) in enumerate(cases):
        check(expected, send()[0], f'refusal case {i}')


def shared_s3_store(work):
    # Two receivers behind one public address, on one bucket. Parts of the store are 8 MiB: the
    # cut leaves one whole part and a piece of the next, and the other receiver continues.
    port_a, port_b = start_receivers(work, 2, PL5_PUBLIC_URL='http://uploads.example/files')
    data = os.urandom(20 * 1024 * 1024 + 5)
    url = upload(port_a, data, 'film.mov', 4 * 1024 * 1024, cut_in=2, resume_port=port_b)
    status, _, body = form(port_a, [(url, 'film.mov', len(data))])
    check((200, [stored_line(data, 'film.mov')]), (status, body.decode().splitlines()), 'form from the store')


def main():
    if not os.path.isdir(os.path.join(RECEIVER, 'node_modules')):
        # The receiver's packages come from the npm registry, as its users install them.
        subprocess.run(['npm', 'ci', '--no-audit', '--no-fund'], cwd=RECEIVER, check=True, stdout=subprocess.DEVNULL)
    s3 = sys.argv[1:] == ['--s3']
    if s3 and not os.environ.get('PL5_S3_ENDPOINT'):
        sys.exit('FAIL: no object store (run under tests/servers/with_ceph.sh)')
    with tempfile.TemporaryDirectory(prefix='pl5-tus.') as work:
        try:
            (shared_s3_store if s3 else file_store)(work)
        finally:
            for process in processes:
                process.terminate()
                process.wait()
    for failure in failures:
        print('FAIL:', failure)
    print('tus receiver:', 'failed' if failures else 'passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
