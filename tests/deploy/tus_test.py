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

HERE = os.path.dirname(os.path.abspath(__file__))
RECEIVER = os.path.normpath(os.path.join(HERE, '..', '..', 'examples', 'receivers', 'tus'))
MAX_FILE = 64 * 1024 * 1024
TUS = {'Tus-Resumable': '1.0.0'}
failures = []


def check(expected, got, what):
    if expected != got:
        failures.append(f'{what}: expected {expected!r}, got {got!r}')


def start_receiver(work, name, env):
    port_file = os.path.join(work, f'{name}.port')
    env = dict(os.environ, PORT='0', PL5_PORT_FILE=port_file, PL5_MAX_FILE=str(MAX_FILE), **env)
    log = open(os.path.join(work, f'{name}.log'), 'wb')
    process = subprocess.Popen(['node', os.path.join(RECEIVER, 'receive.js')], env=env, stdout=log, stderr=log)
    deadline = time.monotonic() + 30
    while not os.path.exists(port_file):
        if process.poll() is not None or time.monotonic() > deadline:
            sys.exit(f'FAIL: receiver {name} did not start: ' + open(log.name).read())
        time.sleep(0.05)
    return process, int(open(port_file).read())


def request(port, method, path, headers=None, body=b''):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=60)
    connection.request(method, path, body=body, headers=headers or {})
    response = connection.getresponse()
    result = response.status, response.headers, response.read()
    connection.close()
    return result


def create(port, size, name, field='file'):
    metadata = ','.join(f'{key} {base64.b64encode(value.encode()).decode()}'
                        for key, value in (('filename', name), ('fieldname', field)))
    status, headers, _ = request(port, 'POST', '/files', dict(TUS, **{'Upload-Length': str(size),
                                                                      'Upload-Metadata': metadata}))
    if status != 201:
        sys.exit(f'FAIL: creation of {name} answered {status}')
    return headers['Location']


def path_of(url):
    return urllib.parse.urlsplit(url).path


def patch(port, url, offset, data):
    status, headers, _ = request(port, 'PATCH', path_of(url), dict(TUS, **{
        'Upload-Offset': str(offset), 'Content-Type': 'application/offset+octet-stream'}), data)
    if status != 204:
        sys.exit(f'FAIL: PATCH at {offset} answered {status}')
    return int(headers['Upload-Offset'])


def cut_patch(port, url, offset, data, sent):
    """A PATCH of all of data whose connection is lost after its first `sent` bytes."""
    head = (f'PATCH {path_of(url)} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nTus-Resumable: 1.0.0\r\n'
            f'Upload-Offset: {offset}\r\nContent-Type: application/offset+octet-stream\r\n'
            f'Content-Length: {len(data)}\r\n\r\n')
    with socket.create_connection(('127.0.0.1', port)) as connection:
        connection.sendall(head.encode() + data[:sent])


def offset_of(port, url):
    status, headers, _ = request(port, 'HEAD', path_of(url), TUS)
    check(200, status, 'HEAD')
    return int(headers['Upload-Offset'])


def upload(port, data, name, chunk, cut_in=None, resume_port=None):
    """Creates an upload and sends data in chunks; with cut_in, the connection of that chunk is
    lost halfway and the rest goes from the offset that HEAD gives (at resume_port when given)."""
    url = create(port, len(data), name)
    offset = 0
    for number in range(len(range(0, len(data), chunk))):
        piece = data[offset:offset + chunk]
        if number == cut_in:
            cut_patch(port, url, offset, piece, len(piece) // 2)
            # The receiver answers HEAD once it has handled the cut request.
            settled = offset_of(port, url)
            port = resume_port or port
            resumed = offset_of(port, url)
            check(settled, resumed, f'{name}: offset after the cut from the other receiver')
            if not offset <= resumed <= offset + len(piece) // 2:
                failures.append(f'{name}: offset {resumed} after a cut at {offset} + {len(piece) // 2}')
            offset = resumed
            piece = data[offset:offset + chunk]
        if piece:
            offset = patch(port, url, offset, piece)
    while offset < len(data):  # what the resumed chunk left
        offset = patch(port, url, offset, data[offset:offset + chunk])
    check(len(data), offset_of(port, url), f'{name}: final offset')
    return url


def form(port, fields, key=None, files=()):
    boundary = 'pl5-tus-test-boundary'
    body = b''
    for name, value in fields:
        body += (f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n').encode()
        body += value.encode() + b'\r\n'
    for name, value in files:
        body += (f'--{boundary}\r\nContent-Disposition: form-data; name="{name}"; filename="x.bin"\r\n'
                 'Content-Type: application/octet-stream\r\n\r\n').encode() + value + b'\r\n'
    body += f'--{boundary}--\r\n'.encode()
    headers = {'Content-Type': f'multipart/form-data; boundary={boundary}'}
    if key:
        headers['Idempotency-Key'] = f'"{key}"'
    return request(port, 'POST', '/form', headers, body)


def upload_fields(uploads):
    fields = []
    for number, (url, name, size) in enumerate(uploads, 1):
        fields += [(f'file{number}_url', url), (f'file{number}_name', name), (f'file{number}_size', str(size))]
    return fields


def stored_line(data, name):
    return f'stored {len(data)} {hashlib.sha256(data).hexdigest()} {name}'


def file_store(work):
    folder = os.path.join(work, 'uploads')
    process, port = start_receiver(work, 'receiver', {'PL5_UPLOAD_DIR': folder})
    try:
        # Three files: one cut inside its second chunk and resumed, one in a single PATCH, one empty.
        files = [(os.urandom(3 * 1024 * 1024 + 123), 'video.mp4', 1024 * 1024, 1),
                 (os.urandom(1000), '한글 문서.txt', 4096, None), (b'', 'empty.txt', 4096, None)]
        uploads = [(upload(port, data, name, chunk, cut_in), name, len(data)) for data, name, chunk, cut_in in files]
        status, headers, body = form(port, [('note', 'hello')] + upload_fields(uploads))
        check(200, status, 'form')
        check('nosniff', headers['X-Content-Type-Options'], 'form answer header')
        expected = ['field 5 note'] + [stored_line(data, name) for data, name, _, _ in files]
        check(expected, body.decode().splitlines(), 'form answer')
        for (data, name, _, _), (url, _, _) in zip(files, uploads):
            stored = os.path.join(folder, path_of(url).rsplit('/', 1)[1])
            check(hashlib.sha256(data).hexdigest(), hashlib.sha256(open(stored, 'rb').read()).hexdigest(),
                  f'{name}: stored bytes')
            check(name, json.load(open(stored + '.stored.json'))['name'], f'{name}: side file')

        # An answered form, sent again with its key, gets the same answer; another form under that
        # key is refused.
        replay = upload_fields(uploads[1:2])
        first = form(port, replay, key='form-key-1')
        again = form(port, replay, key='form-key-1')
        check((200, first[2]), (again[0], again[2]), 'the same form and key again')
        check(422, form(port, upload_fields(uploads[:2]), key='form-key-1')[0], 'another form under a used key')

        # What the receiver refuses.
        url, name, size = uploads[0]
        unfinished = create(port, 10, 'part.bin')
        patch(port, unfinished, 0, b'12345')
        cases = [
            (413, lambda: request(port, 'POST', '/files', dict(TUS, **{'Upload-Length': str(MAX_FILE + 1)}))),
            (405, lambda: request(port, 'GET', path_of(url))),
            (400, lambda: form(port, upload_fields([(url.replace('127.0.0.1', 'uploads.example'), name, size)]))),
            (400, lambda: form(port, upload_fields([(url, name, size + 1)]))),
            (409, lambda: form(port, upload_fields([(unfinished, 'part.bin', 10)]))),
            (400, lambda: form(port, upload_fields([(url[:-1] + ('0' if url[-1] != '0' else '1'), name, size)]))),
            (400, lambda: form(port, upload_fields([(url.replace('/files/', '/files/../'), name, size)]))),
            (400, lambda: form(port, upload_fields([(url, name, size)])[:2])),
            (400, lambda: form(port, upload_fields([(url, name, size)]), files=[('file1', b'data')])),
            (400, lambda: form(port, upload_fields([(url, name, size)]), key='not a key')),
        ]
        for i, (expected_status, send) in enumerate(cases):
            check(expected_status, send()[0], f'refusal case {i}')
    finally:
        process.terminate()
        process.wait()


def shared_s3_store(work):
    # Two receivers behind one public address, on one bucket: the offset comes from the store.
    env = {'PL5_UPLOAD_DIR': os.path.join(work, 'uploads'), 'PL5_PUBLIC_URL': 'http://uploads.example/files'}
    first, port_a = start_receiver(work, 'receiver-a', env)
    second, port_b = start_receiver(work, 'receiver-b', env)
    try:
        # Parts of the store are 8 MiB: the cut leaves one whole part and a piece of the next.
        data = os.urandom(20 * 1024 * 1024 + 5)
        url = upload(port_a, data, 'film.mov', 4 * 1024 * 1024, cut_in=2, resume_port=port_b)
        status, _, body = form(port_a, upload_fields([(url, 'film.mov', len(data))]))
        check(200, status, 'form')
        check([stored_line(data, 'film.mov')], body.decode().splitlines(), 'form answer from the store')
    finally:
        for process in (first, second):
            process.terminate()
            process.wait()


def main():
    if not os.path.isdir(os.path.join(RECEIVER, 'node_modules')):
        # The receiver's packages come from the npm registry, as its users install them.
        subprocess.run(['npm', 'ci', '--no-audit', '--no-fund'], cwd=RECEIVER, check=True,
                       stdout=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory(prefix='pl5-tus.') as work:
        if sys.argv[1:] == ['--s3']:
            if not os.environ.get('PL5_S3_ENDPOINT'):
                sys.exit('FAIL: no object store (run under tests/servers/with_ceph.sh)')
            shared_s3_store(work)
        else:
            file_store(work)
    for failure in failures:
        print('FAIL:', failure)
    print('tus receiver:', 'failed' if failures else 'passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
