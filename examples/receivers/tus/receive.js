// Resumable receiver for the Pelora5 upload control: tus 1.0.0 on @tus/server, and the form that
// names the finished uploads.
//
// Two addresses:
//   PL5_TUS_PATH (/files)   the tus endpoint: creation (POST with Upload-Length and Upload-Metadata),
//                           HEAD for the offset, PATCH with application/offset+octet-stream,
//                           termination (DELETE). An upload is stored under a generated name
//                           (32 hex digits) and is never served back (GET is refused).
//   any other path          the form: a multipart/form-data POST of the page's fields and, for
//                           each finished upload N = 1, 2, ..., the fields fileN_url (its upload
//                           URL as the creation answered it), fileN_name (the original name) and
//                           fileN_size (its size in bytes). Each upload must be one of this
//                           receiver's own, complete, and of that size. The answer, as the other
//                           receivers give it: "field SIZE NAME" per page field in the order they
//                           arrived, then "stored SIZE SHA256 NAME" per upload in the order of N.
//                           The client's name and field are kept as data beside the upload
//                           ("<id>.stored.json").
//
// A form with an Idempotency-Key header (a quoted key: "8e03978e-40d5-43e8-bc93-6894a57f9324") is
// answered once: its answer is remembered for a day, and the same key again gets that answer. A key
// whose form is still being handled is answered 409, a key sent again with a form of another length
// 422, a malformed key 400.
//
//   npm ci && PORT=8080 node receive.js
//
// Settings, from the environment:
//   PL5_UPLOAD_DIR      the upload folder (uploads of the file store, remembered keys); default:
//                       "pelora5-uploads" beside the folder of this script (never under it),
//                       created readable by this user only
//   PL5_MAX_FILE        bytes per upload (64 GiB; a larger Upload-Length is answered 413)
//   PL5_MAX_FILES       uploads per form (100)         PL5_MAX_FIELDS   page fields per form (100)
//   PL5_MAX_FIELD_BYTES bytes of all field values of a form together (64 KiB)
//   PL5_MAX_KEYS        idempotency keys remembered (10,000; past that, the oldest are forgotten)
//   PL5_EXPIRE_HOURS    hours an unfinished upload is kept (24); finished ones stay
//   PL5_PUBLIC_URL      the tus endpoint's address as clients see it (https://example.com/upload/files):
//                       the upload URLs given out and the only ones a form may name. Unset: the
//                       address of the request (http://<Host><PL5_TUS_PATH>), and a form may name
//                       uploads only at its own Host
//   PL5_S3_ENDPOINT, PL5_S3_BUCKET, PL5_S3_ACCESS_KEY, PL5_S3_SECRET_KEY, PL5_S3_REGION (us-east-1)
//                       when the first four are set, uploads go to that S3-compatible object store
//                       instead of the upload folder, and every receiver on that bucket shares them
//   HOST, PORT          where to listen (127.0.0.1:8080): put a proxy in front, not this process
'use strict';
const { Server } = require('@tus/server');
const { FileStore } = require('@tus/file-store');
const busboy = require('busboy');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');

const setting = (name, fallback) => process.env[name] || fallback;
const folder = setting('PL5_UPLOAD_DIR', path.join(path.dirname(__dirname), 'pelora5-uploads'));
const maxFile = Number(setting('PL5_MAX_FILE', 64 * 1024 ** 3));
const maxFiles = Number(setting('PL5_MAX_FILES', 100));
const maxFields = Number(setting('PL5_MAX_FIELDS', 100));
const maxFieldBytes = Number(setting('PL5_MAX_FIELD_BYTES', 64 * 1024));
const maxKeys = Number(setting('PL5_MAX_KEYS', 10000));
const expireHours = Number(setting('PL5_EXPIRE_HOURS', 24));
const tusPath = setting('PL5_TUS_PATH', '/files').replace(/\/+$/, '');
const publicUrl = (process.env.PL5_PUBLIC_URL || '').replace(/\/+$/, '');
// A form carries names and small numbers only: its whole body stays small.
const maxForm = maxFieldBytes + (maxFiles * 3 + maxFields) * 1024;
const keyPattern = /^"([A-Za-z0-9._:+/=-]{1,128})"$/;
const keySeconds = 24 * 3600;
const idPattern = /^[0-9a-f]{32}$/;
const nameBytes = 255;
const storeFailed = 'the upload could not be stored';

const log = (text) => process.stderr.write(`receive.js: ${text}\n`);

// Everything this process creates (uploads, side files, keys) is readable by its user only.
process.umask(0o077);

// ---- The store: the upload folder, or an S3-compatible object store -------------------------
function makeStore() {
  const s3 = ['ENDPOINT', 'BUCKET', 'ACCESS_KEY', 'SECRET_KEY'].map((name) => process.env[`PL5_S3_${name}`]);
  const expirationPeriodInMilliseconds = expireHours * 3600 * 1000;
  if (s3.some((value) => value) && !s3.every((value) => value)) {
    // Uploads meant for the object store never land on this machine's disk by mistake.
    log('set all of PL5_S3_ENDPOINT, PL5_S3_BUCKET, PL5_S3_ACCESS_KEY and PL5_S3_SECRET_KEY, or none');
    process.exit(2);
  }
  if (s3.every((value) => value)) {
    const { S3Store } = require('@tus/s3-store');
    const [endpoint, bucket, accessKeyId, secretAccessKey] = s3;
    const store = new S3Store({
      expirationPeriodInMilliseconds,
      // Expiry by object tags is not offered by every S3-compatible store; the unfinished uploads
      // are found by listing them instead.
      useTags: false,
      s3ClientConfig: {
        bucket, endpoint, region: setting('PL5_S3_REGION', 'us-east-1'), credentials: { accessKeyId, secretAccessKey },
        forcePathStyle: true,
        // Stores other than AWS refuse the checksums current clients add to every request.
        requestChecksumCalculation: 'WHEN_REQUIRED', responseChecksumValidation: 'WHEN_REQUIRED',
      },
    });
    return {
      tus: store,
      async keep(id, record) {
        await store.client.putObject({ Bucket: bucket, Key: `${id}.stored.json`, Body: JSON.stringify(record),
                                       ContentType: 'application/json' });
      },
    };
  }
  const store = new FileStore({ directory: folder, expirationPeriodInMilliseconds });
  return {
    tus: store,
    async keep(id, record) {
      const file = path.join(folder, `${id}.stored.json`);
      await fs.promises.writeFile(`${file}.part`, JSON.stringify(record));
      await fs.promises.rename(`${file}.part`, file);
    },
  };
}

fs.mkdirSync(folder, { recursive: true, mode: 0o700 });
const store = makeStore();

const tus = new Server({
  path: tusPath,
  datastore: store.tus,
  maxSize: maxFile,
  namingFunction: () => crypto.randomBytes(16).toString('hex'),
  generateUrl: publicUrl ? (req, { id }) => `${publicUrl}/${id}` : undefined,
  // A failure's cause goes to the log; the client hears only that it failed.
  onResponseError: (req, res, error) => {
    if (error && error.status_code && error.status_code < 500) return undefined;
    log(`tus: ${error && (error.stack || error.body || error)}`);
    return { status_code: 500, body: `error: ${storeFailed}\n` };
  },
});

// ---- Answers ---------------------------------------------------------------------------------
const textType = 'text/plain; charset=utf-8';

function send(res, status, body, type) {
  if (res.headersSent) return;
  res.writeHead(status, { 'Content-Type': type, 'Content-Length': body.length, Connection: 'close' });
  res.end(body);
}

const answer = (res, status, text) => send(res, status, Buffer.from(text), textType);

// Answers once the client has sent the whole body (read and dropped, up to the form limit), so
// that it is still listening.
function answerAfterBody(req, res, status, body, type) {
  let received = 0;
  req.on('data', (chunk) => {
    received += chunk.length;
    if (received > maxForm) req.destroy();
  });
  req.on('end', () => send(res, status, body, type));
  req.resume();
}

const refuseAfterBody = (req, res, status, text) =>
  answerAfterBody(req, res, status, Buffer.from(`error: ${text}\n`), textType);

// A name shown in the answer: one line, whatever it holds.
const safeText = (text) => text.replace(/[\x00-\x1f\x7f]/g, '_');

// The last part of the client's path, without control characters and the characters that file
// systems or shells give a meaning; never empty, "." or ".."; at most nameBytes bytes of UTF-8.
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

// ---- Idempotency keys --------------------------------------------------------------------------
// The answers of handled forms by their Idempotency-Key, each remembered for a day in
// "<upload folder>/keys/<SHA-256 of the key>": an empty file while its form is handled, then the
// answer. Creating that file is the lock: of two forms with one key (in this process or another
// on this folder), one creates it and the other is answered 409.
const keys = {
  folder: path.join(folder, 'keys'),
  path(key) {
    return path.join(this.folder, crypto.createHash('sha256').update(key).digest('hex'));
  },
  // The key's remembered answer, { busy: true } while another form holds it, or null once this
  // form holds it.
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
  async settle(key, length, status, body) {
    const file = this.path(key);
    const temporary = `${file}.${crypto.randomBytes(8).toString('hex')}.tmp`;
    const record = { status, length, body: body.toString('base64') };
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

// ---- The form --------------------------------------------------------------------------------
class Refusal extends Error {
  constructor(status, text) {
    super(text);
    this.status = status;
  }
}

// The upload id that a form's URL names, if the URL is one of this receiver's own.
function uploadId(req, url) {
  let rest;
  if (publicUrl) {
    if (url.startsWith(`${publicUrl}/`)) rest = url.slice(publicUrl.length + 1);
  } else {
    let parsed;
    try {
      parsed = new URL(url);
    } catch (e) {
      return null;
    }
    const own = /^https?:$/.test(parsed.protocol) && parsed.host === String(req.headers.host || '').toLowerCase() &&
                !parsed.search && !parsed.hash && !parsed.username && !parsed.password;
    if (own && parsed.pathname.startsWith(`${tusPath}/`)) rest = parsed.pathname.slice(tusPath.length + 1);
  }
  return rest !== undefined && idPattern.test(rest) ? rest : null;
}

async function sha256Of(id) {
  const hash = crypto.createHash('sha256');
  for await (const chunk of await store.tus.read(id)) hash.update(chunk);
  return hash.digest('hex');
}

// Resolves the form's uploads; their lines, or a Refusal.
async function resolve(req, uploads) {
  const numbers = Object.keys(uploads).map(Number).sort((a, b) => a - b);
  if (numbers.length > maxFiles) throw new Refusal(413, `more than ${maxFiles} uploads`);
  const found = [];
  for (const n of numbers) {
    const { url, name, size } = uploads[n];
    if (url === undefined || name === undefined || size === undefined) {
      throw new Refusal(400, `upload ${n} lacks its url, name or size`);
    }
    const id = uploadId(req, url);
    if (!id) throw new Refusal(400, `upload ${n} is not an upload of this receiver`);
    let upload;
    try {
      upload = await store.tus.getUpload(id);
    } catch (e) {
      if (e && e.status_code === 404) throw new Refusal(400, `upload ${n} is not an upload of this receiver`);
      throw e;
    }
    if (!/^\d{1,16}$/.test(size) || upload.size !== Number(size)) {
      throw new Refusal(400, `upload ${n} is not of the size given`);
    }
    if (upload.offset !== upload.size) throw new Refusal(409, `upload ${n} is not complete`);
    found.push({ id, name: safeName(name), field: (upload.metadata && upload.metadata.fieldname) || '',
                 size: upload.size });
  }
  const lines = [];
  for (const file of found) {
    file.sha256 = await sha256Of(file.id);
    lines.push(`stored ${file.size} ${file.sha256} ${file.name}`);
  }
  for (const file of found) {
    await store.keep(file.id, { name: file.name, field: file.field, size: file.size, sha256: file.sha256,
                                received: new Date().toISOString().replace(/\.\d+Z$/, 'Z') });
  }
  return lines;
}

function receiveForm(req, res) {
  if (req.method !== 'POST') return answer(res, 405, 'error: send the form with POST\n');
  const length = req.headers['content-length'] === undefined ? null : Number(req.headers['content-length']);
  if (length > maxForm) return answer(res, 413, `error: the form is larger than ${maxForm} bytes\n`);
  let parser;
  try {
    parser = busboy({ headers: req.headers, limits: { files: 0, fields: maxFields + maxFiles * 3,
                                                      fieldSize: maxFieldBytes + 1 } });
  } catch (e) {
    return answer(res, 400, 'error: send the form as multipart/form-data\n');
  }
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
      return refuseAfterBody(req, res, 409, 'a form with this key is still being handled');
    }
    if (remembered && remembered.length !== length) {
      return refuseAfterBody(req, res, 422, 'this key came with another form');
    }
    if (remembered) {  // handled before: its answer again
      return answerAfterBody(req, res, remembered.status, Buffer.from(remembered.body, 'base64'), textType);
    }
  }

  const lines = [];
  const uploads = {};
  let fields = 0;
  let fieldBytes = 0;
  let refusal = null;
  let finished = false;
  const refuse = (status, text) => { refusal = refusal || new Refusal(status, text); };
  const finish = async () => {
    if (finished) return;
    finished = true;
    try {
      if (refusal) throw refusal;
      const body = Buffer.from(lines.concat(await resolve(req, uploads)).join('\n') + '\n');
      if (key !== undefined) await keys.settle(key, length, 200, body);
      return send(res, 200, body, textType);
    } catch (e) {
      if (!(e instanceof Refusal)) log(`cannot store: ${e.stack || e}`);
      if (key !== undefined) await keys.release(key);
      if (e instanceof Refusal) return answer(res, e.status, `error: ${e.message}\n`);
      return answer(res, 500, `error: ${storeFailed}\n`);
    }
  };

  let received = 0;
  req.on('data', (chunk) => {
    received += chunk.length;
    if (received > maxForm && !finished) {
      refuse(413, `the form is larger than ${maxForm} bytes`);
      req.unpipe(parser);
      finish().then(() => req.destroy());
    }
  });
  req.on('close', () => {
    if (!req.complete) {
      refuse(400, 'the request ended before its end');
      finish();
    }
  });
  parser.on('field', (name, value, info) => {
    fieldBytes += Buffer.byteLength(value);
    if (fieldBytes > maxFieldBytes || info.valueTruncated) {
      refuse(413, `the fields are longer than ${maxFieldBytes} bytes`);
    }
    const upload = /^file([1-9]\d{0,5})_(url|name|size)$/.exec(name);
    if (upload) {
      const entry = uploads[upload[1]] = uploads[upload[1]] || {};
      if (entry[upload[2]] !== undefined) refuse(400, `${name} is given twice`);
      entry[upload[2]] = value;
      return;
    }
    if (++fields > maxFields) refuse(413, `more than ${maxFields} fields`);
    lines.push(`field ${Buffer.byteLength(value)} ${safeText(name)}`);
  });
  parser.on('fieldsLimit', () => refuse(413, 'too many fields'));
  parser.on('filesLimit', () => refuse(400, `the files go to ${tusPath}, the form names them`));
  parser.on('file', (field, stream) => stream.resume());
  parser.on('error', (e) => {
    log(`malformed request: ${e.message}`);
    refuse(400, 'the request is not a whole multipart body');
    req.unpipe(parser);
    req.resume();
    req.on('end', finish);
  });
  parser.on('close', () => finish());
  req.pipe(parser);
}

// ---- The server ------------------------------------------------------------------------------
const server = http.createServer((req, res) => {
  res.setHeader('X-Content-Type-Options', 'nosniff');
  try {
    const pathname = (req.url || '').split('?')[0];
    if (pathname === tusPath || pathname.startsWith(`${tusPath}/`)) {
      // Nothing of an upload is served back.
      if (req.method === 'GET') return answer(res, 405, 'error: uploads are not served\n');
      return tus.handle(req, res);
    }
    receiveForm(req, res);
  } catch (e) {  // never a trace or a path in the answer, and the server keeps serving
    log(`failed: ${e.stack}`);
    answer(res, 500, `error: ${storeFailed}\n`);
  }
});
// Unfinished uploads past their expiry are removed at start and then once an hour.
const removeExpired = () => tus.cleanUpExpiredUploads().catch((e) => log(`cannot remove expired uploads: ${e.message}`));
removeExpired();
setInterval(removeExpired, 3600 * 1000).unref();
server.listen(Number(process.env.PORT || 8080), process.env.HOST || '127.0.0.1', () => {
  if (process.env.PL5_PORT_FILE) {
    fs.writeFileSync(process.env.PL5_PORT_FILE + '.tmp', String(server.address().port));
    fs.renameSync(process.env.PL5_PORT_FILE + '.tmp', process.env.PL5_PORT_FILE);
  }
});
