<?php
// Receiver for the Pelora5 upload control, for PHP servers.
//
// Stores every uploaded file in the upload folder under a generated name ("<32 hex digits>", no
// extension) with a side file "<name>.json" that keeps the client's file name (made safe), its
// field, size and SHA-256 as data; answers with a short plain text the page can show: one line per
// stored file ("stored SIZE SHA256 NAME") and per field ("field SIZE NAME": the value is not
// echoed). A request over one of the limits is answered 413, a request that did not arrive whole
// 400, a folder that cannot take the files 500; in every such case nothing of the request is kept.
//
// A request with an Idempotency-Key header (a quoted key: "8e03978e-40d5-43e8-bc93-6894a57f9324")
// is stored once: its answer is remembered for a day, and the same key again, as a client sends it
// when the answer was lost, gets that answer and stores nothing. A key whose request is still being
// received is answered 409, a key sent again with a request of another length 422, a malformed key
// 400.
//
//   cd examples/receivers/php && php -d enable_post_data_reading=0 -S 127.0.0.1:8080 receive.php
//
// It reads the body itself, as it arrives: PHP's own form parsing keeps only the last of several
// files sent under one field name and drops files and fields over its limits without a word, so
// it must be off (enable_post_data_reading=0: php.ini, the PHP-FPM pool, or the .user.ini beside
// this script, which PHP-FPM reads). With it on, every upload is answered 500.
//
// Settings, from the environment (under PHP-FPM: env[...] in the pool's configuration):
//   PL5_UPLOAD_DIR      the upload folder; default: "pelora5-uploads" beside the folder of this
//                       script (never under it), created readable by the server's user only. A
//                       folder inside the web server's document root is refused.
//   PL5_MAX_FILE        bytes per file (64 MiB)        PL5_MAX_FILES    files per request (100)
//   PL5_MAX_FIELDS      fields per request (100)       PL5_MAX_REQUEST  bytes per request (256 MiB)
//   PL5_MAX_FIELD_BYTES bytes of all field values together (64 KiB)
//   PL5_MAX_KEYS        idempotency keys remembered (10,000; past that, the oldest are forgotten)
//   PL5_LEGACY_CHARSET  the code page of names that are not UTF-8 (CP949)
$setting = fn(string $name, $fallback) => getenv($name) === false || getenv($name) === '' ? $fallback : getenv($name);
$uploadDir = $setting('PL5_UPLOAD_DIR', dirname(__DIR__) . '/pelora5-uploads');
$maxFile = (int)$setting('PL5_MAX_FILE', 64 * 1024 * 1024);
$maxFiles = (int)$setting('PL5_MAX_FILES', 100);
$maxFields = (int)$setting('PL5_MAX_FIELDS', 100);
$maxRequest = (int)$setting('PL5_MAX_REQUEST', 256 * 1024 * 1024);
$maxFieldBytes = (int)$setting('PL5_MAX_FIELD_BYTES', 64 * 1024);
$maxKeys = (int)$setting('PL5_MAX_KEYS', 10000);
$legacyCharset = $setting('PL5_LEGACY_CHARSET', 'CP949');
// A stored client name is data, but it is still kept short enough for any file system.
const NAME_BYTES = 255;
// A part's headers are kept in memory until they end.
const MAX_PART_HEADERS = 16 * 1024;
// An Idempotency-Key is a structured-field string: quoted, of characters safe anywhere.
const KEY_PATTERN = '#^"([A-Za-z0-9._:+/=-]{1,128})"$#';
const KEY_SECONDS = 24 * 3600;
const STORE_FAILED = 'the upload could not be stored';

// Set when a name came in the legacy code page: the answer then goes back in it too, because the
// control reads the answer in the code page it sent with.
$legacySeen = false;

function utf8_text(string $text): string
{
    global $legacySeen, $legacyCharset;
    if (preg_match('//u', $text) === 1) {
        return $text;
    }
    $legacySeen = true;
    $converted = @iconv($legacyCharset, 'UTF-8//IGNORE', $text);
    return $converted === false ? '' : $converted;
}

// A name shown in the answer: one line, whatever it holds.
function safe_text(string $text): string
{
    return preg_replace('/[\x00-\x1f\x7f]/', '_', $text);
}

// The last part of the client's path (either separator), without control characters and the
// characters that file systems or shells give a meaning; never empty, "." or ".."; at most
// NAME_BYTES bytes in UTF-8, never cut inside a character.
function safe_name(string $name): string
{
    $name = preg_replace('/^.*[\\\\\\/]/su', '', $name);
    $name = trim(preg_replace('/[<>:"|?*]/u', '_', safe_text($name)), ' .');
    $name = substr($name === '' ? 'file' : $name, 0, NAME_BYTES);
    while (preg_match('//u', $name) !== 1) {
        $name = substr($name, 0, -1);  // the end of a character cut in two
    }
    return $name;
}

// Ends the request with an HTTP status and a text that names no path.
final class Refused extends Exception
{
    public function __construct(public int $status, string $text, string $log = '')
    {
        parent::__construct($text);
        if ($log !== '') {
            error_log("receive.php: $log");
        }
    }
}

// The answer's content type and bytes: in the legacy code page when the names came in it.
function answer_of(int $status, array $lines): array
{
    global $legacySeen, $legacyCharset;
    $text = implode("\n", $lines) . "\n";
    if ($legacySeen && $status === 200) {
        return ['text/plain; charset=' . $legacyCharset, iconv('UTF-8', $legacyCharset . '//IGNORE', $text)];
    }
    return ['text/plain; charset=utf-8', $text];
}

function send(int $status, string $type, string $body): void
{
    http_response_code($status);
    header("Content-Type: $type");
    header('X-Content-Type-Options: nosniff');
    echo $body;
}

// The answers of stored requests by their Idempotency-Key, each remembered for a day in
// "<upload folder>/keys/<SHA-256 of the key>": an empty file while its request is received, then
// the answer. Creating that file is the lock: of two requests with one key, one creates it and
// the other is answered 409. At most $limit are kept; past that, the oldest are forgotten.
final class Keys
{
    private string $folder;

    public function __construct(string $uploadFolder, private int $limit)
    {
        $this->folder = "$uploadFolder/keys";
    }

    private function path(string $key): string
    {
        return $this->folder . '/' . hash('sha256', $key);
    }

    // The key's remembered answer, or null once this request holds the key.
    public function claim(string $key): ?array
    {
        $path = $this->path($key);
        for ($try = 0; $try < 2; ++$try) {  // a key released between the two looks is tried again
            if (!is_dir($this->folder) && !@mkdir($this->folder, 0700) && !is_dir($this->folder)) {
                throw new Refused(500, STORE_FAILED, "cannot create {$this->folder}");
            }
            $handle = @fopen($path, 'x');
            if ($handle !== false) {
                fclose($handle);
                chmod($path, 0600);
                return null;
            }
            $record = @file_get_contents($path);
            if ($record === false) {
                if ($try === 0 && !file_exists($path)) {
                    continue;
                }
                throw new Refused(500, STORE_FAILED, "cannot create or read $path");
            }
            if ($record !== '') {
                return json_decode($record, true, 4, JSON_THROW_ON_ERROR);
            }
            break;
        }
        throw new Refused(409, 'an upload with this key is still being received');
    }

    public function settle(string $key, int $length, int $status, string $type, string $body): void
    {
        $path = $this->path($key);
        $temporary = "$path." . bin2hex(random_bytes(8)) . '.tmp';
        $record = json_encode(['status' => $status, 'length' => $length, 'type' => $type,
                               'body' => base64_encode($body)]);
        $handle = @fopen($temporary, 'x');
        if ($handle === false || !chmod($temporary, 0600) || fwrite($handle, $record) !== strlen($record)
            || !fclose($handle) || !rename($temporary, $path)) {
            $this->forget($temporary);
            throw new Refused(500, STORE_FAILED, "cannot remember the answer in $path");
        }
        $this->prune($path);
    }

    public function release(string $key): void
    {
        $this->forget($this->path($key));
    }

    private function forget(string $path): void
    {
        if (file_exists($path) && !@unlink($path) && file_exists($path)) {
            error_log("receive.php: cannot remove $path");
        }
    }

    // Forgets the keys older than a day, then the oldest past the limit; never the one just
    // remembered, which the clock's whole seconds cannot tell from others of the same second.
    private function prune(string $kept): void
    {
        $entries = [];
        foreach (scandir($this->folder) ?: [] as $name) {
            $mtime = @filemtime("{$this->folder}/$name");
            if ($name !== '.' && $name !== '..' && $mtime !== false && "{$this->folder}/$name" !== $kept) {
                $entries["{$this->folder}/$name"] = $mtime;
            }
        }
        asort($entries);
        $excess = count($entries) + 1 - $this->limit;
        foreach ($entries as $path => $mtime) {
            if ($excess-- > 0 || $mtime < time() - KEY_SECONDS) {
                $this->forget($path);
            }
        }
    }
}

// One request's parts, in the order they arrive. Files go to "<id>.part" files, which become
// "<id>" and "<id>.json" only once the whole request has arrived within the limits.
final class Upload
{
    public array $lines = [];
    private array $files = [];
    private int $fields = 0;
    private int $fieldBytes = 0;
    private ?array $part = null;

    public function __construct(private string $folder, private array $limits)
    {
    }

    public function begin(string $headers): void
    {
        if (!preg_match('/^content-disposition:\s*form-data(.*)$/im', $headers, $m)) {
            throw new Refused(400, 'a part without a form-data disposition');
        }
        preg_match_all('/;\s*(name|filename)\s*=\s*(?:"([^"]*)"|([^;\s]*))/i', $m[1], $params, PREG_SET_ORDER);
        $found = [];
        foreach ($params as $p) {
            $found[strtolower($p[1])] = $p[2] !== '' ? $p[2] : ($p[3] ?? '');
        }
        $field = utf8_text($found['name'] ?? '');
        if (!isset($found['filename'])) {
            if (++$this->fields > $this->limits['fields']) {
                throw new Refused(413, "more than {$this->limits['fields']} fields");
            }
            $this->part = ['field' => $field, 'size' => 0];
        } elseif ($found['filename'] === '') {
            $this->part = ['skip' => true];  // an empty file input of a form: its content is dropped
        } else {
            if (count($this->files) >= $this->limits['files']) {
                throw new Refused(413, "more than {$this->limits['files']} files");
            }
            $path = $this->folder . '/' . bin2hex(random_bytes(16));
            $handle = @fopen("$path.part", 'x');
            if ($handle === false || !chmod("$path.part", 0600)) {
                throw new Refused(500, STORE_FAILED, "cannot create $path.part");
            }
            $this->lines[] = null;  // answered in the order the parts arrived
            $this->part = ['field' => $field, 'name' => safe_name(utf8_text($found['filename'])), 'path' => $path,
                           'handle' => $handle, 'size' => 0, 'hash' => hash_init('sha256'),
                           'line' => count($this->lines) - 1];
            $this->files[] = &$this->part;
        }
    }

    public function data(string $chunk): void
    {
        if (isset($this->part['skip']) || $chunk === '') {
            return;
        }
        if (!isset($this->part['handle'])) {  // counted, never kept: the answer names the field and its size
            $this->part['size'] += strlen($chunk);
            $this->fieldBytes += strlen($chunk);
            if ($this->fieldBytes > $this->limits['fieldBytes']) {
                throw new Refused(413, "the fields are longer than {$this->limits['fieldBytes']} bytes");
            }
            return;
        }
        $this->part['size'] += strlen($chunk);
        if ($this->part['size'] > $this->limits['file']) {
            throw new Refused(413, "a file is larger than {$this->limits['file']} bytes");
        }
        if (fwrite($this->part['handle'], $chunk) !== strlen($chunk)) {
            throw new Refused(500, STORE_FAILED, "cannot write {$this->part['path']}.part");
        }
        hash_update($this->part['hash'], $chunk);
    }

    public function end(): void
    {
        $part = &$this->part;
        if (isset($part['handle'])) {
            $handle = $part['handle'];
            $part['handle'] = null;
            if (!fclose($handle)) {
                throw new Refused(500, STORE_FAILED, "cannot write {$part['path']}.part");
            }
            $part['sha256'] = hash_final($part['hash']);
            $this->lines[$part['line']] = sprintf('stored %d %s %s', $part['size'], $part['sha256'], $part['name']);
        } elseif (isset($part['field'])) {
            $this->lines[] = 'field ' . $part['size'] . ' ' . safe_text($part['field']);
        }
        unset($this->part);
        $this->part = null;
    }

    // Turns every part file into its stored file and side file: all of them, or none.
    public function keep(): void
    {
        foreach ($this->files as &$file) {
            $path = $file['path'];
            if (!rename("$path.part", $path)) {
                throw new Refused(500, STORE_FAILED, "cannot rename $path.part");
            }
            $file['kept'] = true;
            $data = json_encode(['name' => $file['name'], 'field' => $file['field'], 'size' => $file['size'],
                                 'sha256' => $file['sha256'], 'received' => gmdate('Y-m-d\TH:i:s\Z')],
                                JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES);
            $side = @fopen("$path.json.part", 'x');
            if ($side === false || !chmod("$path.json.part", 0600) || fwrite($side, $data) !== strlen($data)
                || !fclose($side) || !rename("$path.json.part", "$path.json")) {
                throw new Refused(500, STORE_FAILED, "cannot write $path.json");
            }
        }
    }

    public function discard(): void
    {
        foreach ($this->files as $file) {
            if (is_resource($file['handle'] ?? null)) {
                fclose($file['handle']);
            }
            foreach (empty($file['kept']) ? ['.part'] : ['.part', '.json.part', '.json', ''] as $suffix) {
                if (file_exists($file['path'] . $suffix) && !unlink($file['path'] . $suffix)) {
                    error_log("receive.php: cannot remove {$file['path']}$suffix");
                }
            }
        }
    }
}

// Reads the body from php://input as it arrives and hands its parts to the upload.
function read_body(string $boundary, Upload $upload, int $maxRequest): void
{
    $input = fopen('php://input', 'rb');
    $delimiter = "\r\n--$boundary";
    $buffer = "\r\n";  // so that the first delimiter looks like every other one
    $state = 'preamble';
    $total = 0;
    while (true) {
        if ($state === 'preamble' || $state === 'data') {
            $at = strpos($buffer, $delimiter);
            if ($at === false) {
                // All but what may be the start of a delimiter is part data.
                $keep = strlen($delimiter) - 1;
                if (strlen($buffer) > $keep) {
                    if ($state === 'data') {
                        $upload->data(substr($buffer, 0, -$keep));
                    }
                    $buffer = substr($buffer, -$keep);
                }
            } elseif (strlen($buffer) >= $at + strlen($delimiter) + 2) {
                if ($state === 'data') {
                    $upload->data(substr($buffer, 0, $at));
                    $upload->end();
                }
                $after = substr($buffer, $at + strlen($delimiter), 2);
                $buffer = substr($buffer, $at + strlen($delimiter) + 2);
                if ($after === '--') {
                    return;  // the closing delimiter; an epilogue is ignored
                }
                $state = 'headers';
                continue;
            }
        } else {
            $at = strpos($buffer, "\r\n\r\n");
            if ($at !== false) {
                $upload->begin(substr($buffer, 0, $at));
                $buffer = substr($buffer, $at + 4);
                $state = 'data';
                continue;
            }
            if (strlen($buffer) > MAX_PART_HEADERS) {
                throw new Refused(400, "a part's headers are longer than " . MAX_PART_HEADERS . ' bytes');
            }
        }
        $chunk = fread($input, 65536);
        if ($chunk === false || $chunk === '') {
            throw new Refused(400, 'the request ended before its end');
        }
        $total += strlen($chunk);
        if ($total > $maxRequest) {
            throw new Refused(413, "the upload is larger than $maxRequest bytes");
        }
        $buffer .= $chunk;
    }
}

// A request that PHP ends on its own (its memory or time limit) leaves nothing behind either.
$upload = $keys = $key = null;
$answered = false;
register_shutdown_function(function () use (&$upload, &$keys, &$key, &$answered) {
    if (!$answered) {
        $upload?->discard();
        if ($key !== null) {
            $keys->release($key);
        }
    }
});
try {
    if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
        throw new Refused(405, 'send the files with POST');
    }
    if (ini_get('enable_post_data_reading')) {
        throw new Refused(500, STORE_FAILED, 'set enable_post_data_reading=0: PHP loses files when it reads the form');
    }
    if (!preg_match('#^multipart/form-data;.*\bboundary=(?:"([^"]+)"|([^;\s]+))#i', $_SERVER['CONTENT_TYPE'] ?? '', $m)) {
        throw new Refused(400, 'send the files as multipart/form-data');
    }
    $length = (int)($_SERVER['CONTENT_LENGTH'] ?? 0);
    if ($length > $maxRequest) {
        throw new Refused(413, "the upload is larger than $maxRequest bytes");
    }
    $header = $_SERVER['HTTP_IDEMPOTENCY_KEY'] ?? null;
    if ($header !== null && !preg_match(KEY_PATTERN, trim($header), $keyMatch)) {
        throw new Refused(400, 'the Idempotency-Key is not a quoted key of up to 128 letters, digits and marks');
    }
    if (!is_dir($uploadDir) && !@mkdir($uploadDir, 0700, true) && !is_dir($uploadDir)) {
        throw new Refused(500, STORE_FAILED, "cannot create the upload folder $uploadDir");
    }
    $folder = realpath($uploadDir);
    $root = realpath((string)($_SERVER['DOCUMENT_ROOT'] ?? ''));
    if ($folder === false || ($root !== false && $root !== '' && strpos("$folder/", rtrim($root, '/') . '/') === 0)) {
        throw new Refused(500, STORE_FAILED, "the upload folder $uploadDir is missing or inside the document root $root");
    }
    if ($header !== null) {
        $keys = new Keys($folder, $maxKeys);
        $remembered = $keys->claim($keyMatch[1]);
        if ($remembered !== null) {  // stored before: its answer again, and nothing kept
            if ($remembered['length'] !== $length) {
                throw new Refused(422, 'this key came with another upload');
            }
            send($remembered['status'], $remembered['type'], base64_decode($remembered['body']));
            $answered = true;
            exit;
        }
        $key = $keyMatch[1];
    }
    $upload = new Upload($folder, ['file' => $maxFile, 'files' => $maxFiles, 'fields' => $maxFields,
                                   'fieldBytes' => $maxFieldBytes]);
    read_body($m[1] !== '' ? $m[1] : $m[2], $upload, $maxRequest);
    if (in_array(null, $upload->lines, true)) {
        throw new Refused(400, 'the request ended inside a part');
    }
    // The files are kept once the answer is ready, and count as stored once it is remembered.
    [$type, $body] = answer_of(200, $upload->lines);
    $upload->keep();
    if ($key !== null) {
        $keys->settle($key, $length, 200, $type, $body);
    }
    $answered = true;
    send(200, $type, $body);
} catch (Throwable $error) {
    $upload?->discard();
    if ($key !== null) {
        $keys->release($key);
    }
    if (!$error instanceof Refused) {  // never a trace or a path in the answer
        error_log('receive.php: ' . $error);
        $error = new Refused(500, STORE_FAILED);
    }
    $answered = true;
    send($error->status, ...answer_of($error->status, ['error: ' . $error->getMessage()]));
}
