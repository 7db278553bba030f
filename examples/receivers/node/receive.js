// Receiver for the Pelora5 upload control, for Node servers, on busboy.
//
// Stores every uploaded file in the upload folder under a generated name ("<32 hex digits>", no
// extension) with a side file "<name>.json" that keeps the client's file name (made safe), its
// field, size and SHA-256 as data; answers with a short plain text the page can show: one line per
// stored file ("stored SIZE SHA256 NAME") and per field ("field SIZE NAME": the value is not
// echoed). A request over one of the limits is answered 413, a request that is not a whole
// multipart body 400, a folder that cannot take the files 500; in every such case nothing of the
// request is kept.
//
// A request with an Idempotency-Key header (a quoted key: "8e03978e-40d5-43e8-bc93-6894a57f9324")
// is stored once: its answer is remembered for a day, and the same key again, as a client sends it
// when the answer was lost, gets that answer and stores nothing. A key whose request is still being
// received is answered 409, a key sent again with a request of another length 422, a malformed key
// 400.
//
//   npm ci && PORT=8080 node receive.js
//
// Settings, from the environment:
//   PL5_UPLOAD_DIR      the upload folder; default: "pelora5-uploads" beside the folder of this
//                       script (never under it), created readable by this user only
//   PL5_MAX_FILE        bytes per file (64 MiB)        PL5_MAX_FILES    files per request (100)
//   PL5_MAX_FIELDS      fields per request (100)       PL5_MAX_REQUEST  bytes per request (256 MiB)
//   PL5_MAX_FIELD_BYTES bytes of all field values together (64 KiB)
//   PL5_MAX_KEYS        idempotency keys remembered (10,000; past that, the oldest are forgotten)
//   PL5_LEGACY_CHARSET  the code page of names that are not UTF-8 (cp949)
//   HOST, PORT          where to listen (127.0.0.1:8080): put a proxy in front, not this process
'use strict';
const busboy = require('busboy');
const iconv = require('iconv-lite');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');

const setting = (name, fallback) => process.env[name] || fallback;
const folder = setting('PL5_UPLOAD_DIR', path.join(path.dirname(__dirname), 'pelora5-uploads'));
const maxFile = Number(setting('PL5_MAX_FILE', 64 * 1024 * 1024));
const maxFiles = Number(setting('PL5_MAX_FILES', 100));
const maxFields = Number(setting('PL5_MAX_FIELDS', 100));
const maxRequest = Number(setting('PL5_MAX_REQUEST', 256 * 1024 * 1024));
const maxFieldBytes = Number(setting('PL5_MAX_FIELD_BYTES', 64 * 1024));
const maxKeys = Number(setting('PL5_MAX_KEYS', 10000));
const legacy = setting('PL5_LEGACY_CHARSET', 'cp949');
// A stored client name is data, but it is still kept short enough for any file system.
const nameBytes = 255;
// An Idempotency-Key is a structured-field string: quoted, of characters safe anywhere.
const keyPattern = /^"([A-Za-z0-9._:+/=-]{1,128})"$/;
const keySeconds = 24 * 3600;
const utf8 = new TextDecoder('utf-8', { fatal: true });
const storeFailed = 'the upload could not be stored';

const log = (text) => process.stderr.write(`receive.js: ${text}\n`);

// busboy is asked for latin1, which keeps every byte as one character; this decodes the bytes.
// Names and values arrive in UTF-8 when the page sets UseUnicode, otherwise in the sender's ANSI
// code page. A text in the legacy code page marks the request, so that the answer goes back in
// it too: the control reads the answer in the code page it sent with.
function textOf(latin1, upload) {
  const bytes = Buffer.from(latin1, 'latin1');
  try {
    return utf8.decode(bytes);
  } catch (e) {
    upload.legacy = true;
    return iconv.decode(bytes, legacy);
  }
}

// A name shown in the answer: one line, whatever it holds.
const safeText = (text) => text.replace(/[\x00-\x1f\x7f]/g, '_');

// The last part of the client's path (either separator), without control characters and the
// characters that file systems or shells give a meaning; never empty, "." or ".."; at most
// nameBytes bytes in UTF-8, never cut inside a character.
function safeName(name) {
  name = name.split(/[\\/]/).pop();
  name = safeText(name).replace(/[<>:"|?*]/g, '_').replace(/^[ .]+|[ .]+$/g, '') || 'file';
  let kept = '';
  for (const character of name) {
    if (Buffer.byteLength(kept + character) > nameBytes) break;
    kept += character;
  }
  return kept;
}

const textType = (charset) => `text/plain; charset=${charset}`;

function send(res, status, body, type) {
  if (res.headersSent) return;
  res.writeHead(status, { 'Content-Type': type, 'Content-Length': body.length, 'X-Content-Type-Options': 'nosniff',
                          Connection: 'close' });
  res.end(body);
}

const answer = (res, status, text) => send(res, status, Buffer.from(text), textType('utf-8'));

// The answers of stored requests by their Idempotency-Key, each remembered for a day in
// "<upload folder>/keys/<SHA-256 of the key>": an empty file while its request is received, then
// the answer. Creating that file is the lock: of two requests with one key (in this process or
// another), one creates it and the other is answered 409. At most maxKeys are kept; past that, the
// oldest are forgotten.
const keys = {
  folder: path.join(folder, 'keys'),
  path(key) {
    return path.join(this.folder, crypto.createHash('sha256').update(key).digest('hex'));
  },
  // The key's remembered answer, { busy: true } while another request holds it, or null once this
  // request holds it.
  claim(key) {
    const file = this.path(key);
    for (let tries = 0; tries < 2; ++tries) {  // a key released between the two looks is tried again
      try {
        fs.mkdirSync(this.folder, { recursive: true, mode: 0o700 });
        fs.closeSync(fs.openSync(file, 'wx', 0o600));
        return null;
      } catch (e) {
        if (e.code !== 'EEXIST') throw e;
      }
      let record;
      try {
        record = fs.readFileSync(file);
      } catch (e) {
        if (e.code === 'ENOENT') continue;
        throw e;
      }
      if (record.length) return JSON.parse(record);
      break;
    }
    return { busy: true };
  },
  async settle(key, length, status, type, body) {
    const file = this.path(key);
    const temporary = `${file}.${crypto.randomBytes(8).toString('hex')}.tmp`;
    const record = { status, length, type, body: body.toString('base64') };
    try {
      await fs.promises.writeFile(temporary, JSON.stringify(record), { flag: 'wx', mode: 0o600 });
      await fs.promises.rename(temporary, file);
    } catch (e) {
      await this.forget(temporary);
      throw e;
    }
    await this.prune().catch((e) => log(`cannot forget old keys: ${e.message}`));
  },
  release(key) {
    return this.forget(this.path(key));
  },
  forget(file) {
    return fs.promises.rm(file, { force: true }).catch((e) => log(`cannot remove: ${e.message}`));
  },
  // Forgets the keys older than a day, then the oldest past the limit.
  async prune() {
    const entries = [];
    for (const name of await fs.promises.readdir(this.folder)) {
      const file = path.join(this.folder, name);
      const stat = await fs.promises.stat(file).catch(() => null);
      if (stat) entries.push([stat.mtimeMs, file]);
    }
    entries.sort((a, b) => a[0] - b[0]);
    const expired = Date.now() - keySeconds * 1000;
    for (const [index, [mtime, file]] of entries.entries()) {
      if (index < entries.length - maxKeys || mtime < expired) await this.forget(file);
    }
  },
};

// Answers once the client has sent the whole body (read and dropped, up to the request limit), so
// that it is still listening.
function answerAfterBody(req, res, status, body, type) {
  let received = 0;
  req.on('data', (chunk) => {
    received += chunk.length;
    if (received > maxRequest) req.destroy();
  });
  req.on('end', () => send(res, status, body, type));
  req.resume();
}

const refuseAfterBody = (req, res, status, text) =>
  answerAfterBody(req, res, status, Buffer.from(`error: ${text}\n`), textType('utf-8'));

// Turns every part file into its stored file and side file: all of them, or none.
async function keep(files) {
  for (const file of files) {
    await fs.promises.rename(`${file.path}.part`, file.path);
    file.kept = true;
    const data = { name: file.name, field: file.field, size: file.size, sha256: file.sha256,
                   received: new Date().toISOString().replace(/\.\d+Z$/, 'Z') };
    await fs.promises.writeFile(`${file.path}.json.part`, JSON.stringify(data), { flag: 'wx', mode: 0o600 });
    await fs.promises.rename(`${file.path}.json.part`, `${file.path}.json`);
  }
}

async function discard(files) {
  for (const file of files) {
    for (const suffix of file.kept ? ['.part', '.json.part', '.json', ''] : ['.part']) {
      await fs.promises.rm(file.path + suffix, { force: true }).catch((e) => log(`cannot remove: ${e.message}`));
    }
  }
}

function receive(req, res) {
  if (req.method !== 'POST') return answer(res, 405, 'error: send the files with POST\n');
  if (Number(req.headers['content-length'] || 0) > maxRequest) {
    return answer(res, 413, `error: the upload is larger than ${maxRequest} bytes\n`);
  }
  let parser;
  try {
    parser = busboy({ headers: req.headers, defParamCharset: 'latin1', defCharset: 'latin1', preservePath: true,
                      limits: { fileSize: maxFile, files: maxFiles, fields: maxFields,
                                fieldSize: maxFieldBytes + 1 } });
  } catch (e) {
    return answer(res, 400, 'error: send the files as multipart/form-data\n');
  }
  const length = req.headers['content-length'] === undefined ? null : Number(req.headers['content-length']);
  let key = req.headers['idempotency-key'];
  if (key !== undefined) {
    const match = keyPattern.exec(key.trim());
    if (!match) {
      return refuseAfterBody(req, res, 400,
                             'the Idempotency-Key is not a quoted key of up to 128 letters, digits and marks');
    }
    key = match[1];
    const remembered = keys.claim(key);
    if (remembered && remembered.busy) {
      return refuseAfterBody(req, res, 409, 'an upload with this key is still being received');
    }
    if (remembered && remembered.length !== length) {
      return refuseAfterBody(req, res, 422, 'this key came with another upload');
    }
    if (remembered) {  // stored before: its answer again, and nothing kept
      return answerAfterBody(req, res, remembered.status, Buffer.from(remembered.body, 'base64'), remembered.type);
    }
  }
  const upload = { legacy: false };
  const lines = [];
  const files = [];
  const writes = [];
  let fieldBytes = 0;
  let refusal = null;  // [status, text]: the first one counts
  let finished = false;
  const refuse = (status, text) => { refusal = refusal || [status, text]; };
  const finish = async () => {
    if (finished) return;
    finished = true;
    await Promise.all(writes);
    if (!refusal) {
      // The files are kept once the answer is ready, and count as stored once it is remembered.
      const charset = upload.legacy ? legacy : 'utf-8';
      const body = iconv.encode(lines.join('\n') + '\n', charset);
      try {
        await keep(files);
        if (key !== undefined) await keys.settle(key, length, 200, textType(charset), body);
        return send(res, 200, body, textType(charset));
      } catch (e) {
        log(`cannot store: ${e.message}`);
        refuse(500, storeFailed);
      }
    }
    await discard(files);
    if (key !== undefined) await keys.release(key);
    answer(res, refusal[0], `error: ${refusal[1]}\n`);
  };

  // The parser is left behind: the files it began are closed where they are and removed.
  const abandon = (status, text) => {
    refuse(status, text);
    req.unpipe(parser);
    for (const file of files) {
      file.stream.unpipe(file.out);
      file.stream.resume();
      file.out.destroy();
    }
    return finish();
  };
  let received = 0;
  req.on('data', (chunk) => {
    received += chunk.length;
    if (received > maxRequest && !finished) {
      // A body longer than it said is not read any further.
      abandon(413, `the upload is larger than ${maxRequest} bytes`).then(() => req.destroy());
    }
  });
  req.on('close', () => {
    if (!req.complete) abandon(400, 'the request ended before its end');
  });

  parser.on('field', (name, value) => {
    // Counted, never kept: the answer names the field and its size (latin1: a byte a character).
    fieldBytes += value.length;
    if (fieldBytes > maxFieldBytes) refuse(413, `the fields are longer than ${maxFieldBytes} bytes`);
    lines.push(`field ${value.length} ${safeText(textOf(name, upload))}`);
  });
  parser.on('fieldsLimit', () => refuse(413, `more than ${maxFields} fields`));
  parser.on('filesLimit', () => refuse(413, `more than ${maxFiles} files`));
  parser.on('file', (field, stream, info) => {
    if (refusal || !info.filename) return stream.resume();  // no filename: an empty file input
    const file = { path: path.join(folder, crypto.randomBytes(16).toString('hex')), stream,
                   name: safeName(textOf(info.filename, upload)), field: textOf(field, upload), size: 0 };
    files.push(file);
    const hash = crypto.createHash('sha256');
    const line = lines.push('') - 1;  // answered in the order the parts arrived
    stream.on('data', (chunk) => {
      if (file.sha256 !== undefined) return;  // abandoned: the rest is dropped
      hash.update(chunk);
      file.size += chunk.length;
    });
    stream.on('limit', () => refuse(413, `a file is larger than ${maxFile} bytes`));
    const out = file.out = fs.createWriteStream(`${file.path}.part`, { flags: 'wx', mode: 0o600 });
    writes.push(new Promise((resolve) => {
      out.on('close', () => {
        file.sha256 = hash.digest('hex');
        lines[line] = `stored ${file.size} ${file.sha256} ${file.name}`;
        resolve();
      });
      out.on('error', (e) => {
        log(`cannot write: ${e.message}`);
        refuse(500, storeFailed);
        stream.unpipe(out);
        stream.resume();
        resolve();
      });
    }));
    stream.pipe(out);
  });
  parser.on('error', (e) => {
    log(`malformed request: ${e.message}`);
    abandon(400, 'the request is not a whole multipart body');
    req.resume();  // the rest is read and dropped, so that the client hears the answer
  });
  parser.on('close', () => finish());
  req.pipe(parser);
}

fs.mkdirSync(folder, { recursive: true, mode: 0o700 });
const server = http.createServer((req, res) => {
  try {
    receive(req, res);
  } catch (e) {  // never a trace or a path in the answer, and the server keeps serving
    log(`failed: ${e.stack}`);
    answer(res, 500, `error: ${storeFailed}\n`);
  }
});
// A request the HTTP parser cannot read, one cut short among them, is answered as every other.
server.on('clientError', (error, socket) => {
  if (!socket.writable) return socket.destroy();
  const [status, reason] = error.code === 'ERR_HTTP_REQUEST_TIMEOUT' ? [408, 'Request Timeout'] : [400, 'Bad Request'];
  const text = 'error: the request is not a whole HTTP request\n';
  socket.end(`HTTP/1.1 ${status} ${reason}\r\nContent-Type: ${textType('utf-8')}\r\n` +
             `Content-Length: ${text.length}\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n${text}`);
});
server.listen(Number(process.env.PORT || 8080), process.env.HOST || '127.0.0.1', () => {
  if (process.env.PL5_PORT_FILE) {
    fs.writeFileSync(process.env.PL5_PORT_FILE + '.tmp', String(server.address().port));
    fs.renameSync(process.env.PL5_PORT_FILE + '.tmp', process.env.PL5_PORT_FILE);
  }
});
