// Receiver for the Pelora5 upload control, for Node servers, on busboy.
//
// Stores every uploaded file under the upload folder with a safe name and answers with a short
// plain text the page can show: one line per stored file ("stored SIZE SHA256 NAME") and per field
// ("field NAME = VALUE"). A file larger than PL5_MAX_FILE bytes is refused with 413 and nothing of
// the request is kept.
//
//   npm ci && PL5_UPLOAD_DIR=/srv/uploads PORT=8080 node receive.js
'use strict';
const busboy = require('busboy');
const iconv = require('iconv-lite');
const crypto = require('crypto');
const fs = require('fs');
const http = require('http');
const path = require('path');

const folder = process.env.PL5_UPLOAD_DIR || path.join(__dirname, 'uploads');
const maxFile = Number(process.env.PL5_MAX_FILE || 64 * 1024 * 1024);
// Names and values arrive in UTF-8 when the page sets UseUnicode, otherwise in the sender's ANSI
// code page (taken to be Korean unless PL5_LEGACY_CHARSET says otherwise).
const legacy = process.env.PL5_LEGACY_CHARSET || 'cp949';
const utf8 = new TextDecoder('utf-8', { fatal: true });

// busboy is asked for latin1, which keeps every byte as one character, and for the client's name
// as sent (safeName below takes what is safe of it); this decodes the bytes.
// A text in the legacy code page marks the request, so that the answer goes back in it too: the
// control reads the answer in the code page it sent with.
function textOf(latin1, request) {
  const bytes = Buffer.from(latin1, 'latin1');
  try {
    return utf8.decode(bytes);
  } catch (e) {
    request.legacy = true;
    return iconv.decode(bytes, legacy);
  }
}

// The last part of the client's path (either separator), without control characters and the
// characters that file systems or shells give a meaning; never empty, "." or "..".
function safeName(name) {
  name = name.split(/[\\/]/).pop();
  name = name.replace(/[\x00-\x1f\x7f<>:"|?*]/g, '_').replace(/^[ .]+|[ .]+$/g, '');
  return Array.from(name || 'file').slice(0, 200).join('');
}

// A new file in the folder: "a.txt", else "a (2).txt", ... (created at once, so two requests
// never pick the same name).
function unusedPath(name) {
  const ext = path.extname(name);
  const stem = name.slice(0, name.length - ext.length);
  for (let n = 1; ; n++) {
    const candidate = path.join(folder, n === 1 ? name : `${stem} (${n})${ext}`);
    try {
      fs.closeSync(fs.openSync(candidate, 'wx', 0o640));
      return candidate;
    } catch (e) {
      if (e.code !== 'EEXIST') throw e;
    }
  }
}

function answer(res, status, text, charset = 'utf-8') {
  res.writeHead(status, { 'Content-Type': `text/plain; charset=${charset}`, Connection: 'close' });
  res.end(charset === 'utf-8' ? text : iconv.encode(text, charset));
}

function receive(req, res) {
  if (req.method !== 'POST') return answer(res, 405, 'error: send the files with POST\n');
  let parser;
  try {
    parser = busboy({ headers: req.headers, defParamCharset: 'latin1', defCharset: 'latin1', preservePath: true,
                      limits: { fileSize: maxFile } });
  } catch (e) {
    return answer(res, 400, 'error: send the files as multipart/form-data\n');
  }
  const request = { legacy: false };
  const lines = [];
  const stored = [];
  const writes = [];
  let refused = null;

  parser.on('field', (name, value) => lines.push(`field ${textOf(name, request)} = ${textOf(value, request)}`));
  parser.on('file', (field, stream, info) => {
    if (refused || !info.filename) return stream.resume();
    const target = unusedPath(safeName(textOf(info.filename, request)));
    stored.push(target);
    const hash = crypto.createHash('sha256');
    let size = 0;
    const out = fs.createWriteStream(target);
    const line = lines.push('') - 1;  // answered in the order the parts arrived
    stream.on('data', (chunk) => { hash.update(chunk); size += chunk.length; });
    stream.on('limit', () => { refused = `a file is larger than ${maxFile} bytes`; });
    writes.push(new Promise((resolve, reject) => {
      out.on('finish', () => {
        lines[line] = `stored ${size} ${hash.digest('hex')} ${path.basename(target)}`;
        resolve();
      });
      out.on('error', reject);
    }));
    stream.pipe(out);
  });
  const fail = (status, text) => {
    for (const file of stored) fs.rm(file, { force: true }, () => {});
    answer(res, status, `error: ${text}\n`);
  };
  parser.on('error', (e) => fail(400, e.message));
  parser.on('close', () => {
    Promise.all(writes).then(() => {
      if (refused) return fail(413, refused);
      answer(res, 200, lines.join('\n') + '\n', request.legacy ? legacy : 'utf-8');
    }, (e) => fail(500, e.message));
  });
  req.pipe(parser);
}

fs.mkdirSync(folder, { recursive: true });
const server = http.createServer(receive);
server.listen(Number(process.env.PORT || 8080), process.env.HOST || '127.0.0.1', () => {
  if (process.env.PL5_PORT_FILE) {
    fs.writeFileSync(process.env.PL5_PORT_FILE + '.tmp', String(server.address().port));
    fs.renameSync(process.env.PL5_PORT_FILE + '.tmp', process.env.PL5_PORT_FILE);
  }
});
