<?php
// Receiver for the Pelora5 upload control, for PHP servers.
//
// Stores every uploaded file in the upload folder under a generated name ("<32 hex digits>", no
// extension) with a side file "<name>.json" that keeps the client's file name (made safe), its
// field, size and SHA-256 as data; answers with a short plain text the page can show: one line per
// stored file ("stored SIZE SHA256 NAME") and per field ("field NAME = VALUE"). A request over one
// of the limits is answered 413, a request that did not arrive whole 400, a folder that cannot take
// the files 500; in every such case nothing of the request is kept.
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
//   PL5_LEGACY_CHARSET  the code page of names that are not UTF-8 (CP949)
$setting = fn(string $name, $fallback) => getenv($name) === false || getenv($name) === '' ? $fallback : getenv($name);
$uploadDir = $setting('PL5_UPLOAD_DIR', dirname(__DIR__) . '/pelora5-uploads');
$maxFile = (int)$setting('PL5_MAX_FILE', 64 * 1024 * 1024);
$maxFiles = (int)$setting('PL5_MAX_FILES', 100);
$maxFields = (int)$setting('PL5_MAX_FIELDS', 100);
$maxRequest = (int)$setting('PL5_MAX_REQUEST', 256 * 1024 * 1024);
$legacyCharset = $setting('PL5_LEGACY_CHARSET', 'CP949');
// A stored client name is data, but it is still kept short enough for any file system.
const NAME_BYTES = 255;
// A field's value is kept in memory until the answer; a part's headers likewise.
const MAX_FIELD_VALUE = 1024 * 1024;
const MAX_PART_HEADERS = 16 * 1024;
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

// The last part of the client's path (either separator), without control characters and the
// characters that file systems or shells give a meaning; never empty, "." or ".."; at most
// NAME_BYTES bytes in UTF-8, never cut inside a character.
function safe_name(string $name): string
{
    $name = preg_replace('/^.*[\\\\\\/]/su', '', $name);
    $name = trim(preg_replace('/[\x00-\x1f\x7f<>:"|?*]/u', '_', $name), ' .');
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

function answer(int $status, array $lines): void
{
    global $legacySeen, $legacyCharset;
    $text = implode("\n", $lines) . "\n";
    http_response_code($status);
    if ($legacySeen && $status === 200) {
        header('Content-Type: text/plain; charset=' . $legacyCharset);
        echo iconv('UTF-8', $legacyCharset . '//IGNORE', $text);
    } else {
        header('Content-Type: text/plain; charset=utf-8');
        echo $text;
    }
}

// One request's parts, in the order they arrive. Files go to "<id>.part" files, which become
// "<id>" and "<id>.json" only once the whole request has arrived within the limits.
final class Upload
{
    public array $lines = [];
    private array $files = [];
    private int $fields = 0;
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
            $this->part = ['field' => $field, 'value' => ''];
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
        if (!isset($this->part['handle'])) {
            $this->part['value'] .= $chunk;
            if (strlen($this->part['value']) > MAX_FIELD_VALUE) {
                throw new Refused(413, 'a field is longer than ' . MAX_FIELD_VALUE . ' bytes');
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
            $this->lines[] = 'field ' . $part['field'] . ' = ' . utf8_text($part['value']);
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
                throw new Refused(400, 'the request is not a whole multipart/form-data body');
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

$upload = null;
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
    if ((int)($_SERVER['CONTENT_LENGTH'] ?? 0) > $maxRequest) {
        throw new Refused(413, "the upload is larger than $maxRequest bytes");
    }
    if (!is_dir($uploadDir) && !@mkdir($uploadDir, 0700, true) && !is_dir($uploadDir)) {
        throw new Refused(500, STORE_FAILED, "cannot create the upload folder $uploadDir");
    }
    $folder = realpath($uploadDir);
    $root = realpath((string)($_SERVER['DOCUMENT_ROOT'] ?? ''));
    if ($folder === false || ($root !== false && $root !== '' && strpos("$folder/", rtrim($root, '/') . '/') === 0)) {
        throw new Refused(500, STORE_FAILED, "the upload folder $uploadDir is missing or inside the document root $root");
    }
    $upload = new Upload($folder, ['file' => $maxFile, 'files' => $maxFiles, 'fields' => $maxFields]);
    read_body($m[1] !== '' ? $m[1] : $m[2], $upload, $maxRequest);
    if (in_array(null, $upload->lines, true)) {
        throw new Refused(400, 'the request ended inside a part');
    }
    $upload->keep();
    answer(200, $upload->lines);
} catch (Throwable $error) {
    if ($upload !== null) {
        $upload->discard();
    }
    if (!$error instanceof Refused) {  // never a trace or a path in the answer
        error_log('receive.php: ' . $error);
        $error = new Refused(500, STORE_FAILED);
    }
    answer($error->status, ['error: ' . $error->getMessage()]);
}
