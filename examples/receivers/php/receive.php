<?php
// Receiver for the Pelora5 upload control, for PHP servers.
//
// Stores every uploaded file under UPLOAD_DIR with a safe name and answers with a short plain text
// that the page can show: one line per stored file ("stored SIZE SHA256 NAME") and per field
// ("field NAME = VALUE"). Run it with PHP's built-in server, or place it under any PHP server:
//
//   PL5_UPLOAD_DIR=/srv/uploads php -S 127.0.0.1:8080 receive.php
//
// The size limits that count are PHP's own (upload_max_filesize, post_max_size); PL5_MAX_FILE
// (bytes, 64 MB unless set) refuses larger files even where those are set higher.
$maxFile = (int)(getenv('PL5_MAX_FILE') ?: 64 * 1024 * 1024);
$uploadDir = getenv('PL5_UPLOAD_DIR') ?: __DIR__ . '/uploads';
// The control sends names in UTF-8 when the page sets UseUnicode; otherwise in the sender's ANSI
// code page, which this receiver takes to be Korean (CP949) for names that are not UTF-8.
$legacyCharset = getenv('PL5_LEGACY_CHARSET') ?: 'CP949';

// Set when a name came in the legacy code page: the answer then goes back in it too, because the
// control reads the answer in the code page it sent with.
$legacySeen = false;

function utf8_name(string $name, string $legacy): string
{
    global $legacySeen;
    if (preg_match('//u', $name) === 1) {
        return $name;
    }
    $legacySeen = true;
    $converted = @iconv($legacy, 'UTF-8//IGNORE', $name);
    return $converted === false ? '' : $converted;
}

// The last part of the client's path (either separator), without control characters and the
// characters that file systems or shells give a meaning; never empty, never "." or "..".
function safe_name(string $name): string
{
    $name = preg_replace('/^.*[\\\\\\/]/u', '', $name);
    $name = preg_replace('/[\x00-\x1f\x7f<>:"|?*]/u', '_', $name);
    $name = trim($name, " .");
    if ($name === '') {
        $name = 'file';
    }
    return cut_text($name, 200);
}

// At most $length characters, never cut inside one.
function cut_text(string $text, int $length): string
{
    return preg_match('/^.{0,' . $length . '}/us', $text, $m) ? $m[0] : $text;
}

// A php.ini size ("64M") in bytes.
function ini_size(string $name): int
{
    $text = trim((string)ini_get($name));
    $units = ['k' => 1024, 'm' => 1024 ** 2, 'g' => 1024 ** 3];
    $unit = strtolower(substr($text, -1));
    return (int)$text * ($units[$unit] ?? 1);
}

// A name that is not taken yet in the folder: "a.txt", then "a (2).txt", "a (3).txt", ...
function unused_path(string $dir, string $name): string
{
    $dot = strrpos($name, '.');
    $stem = $dot > 0 ? substr($name, 0, $dot) : $name;
    $ext = $dot > 0 ? substr($name, $dot) : '';
    for ($n = 1; ; $n++) {
        $path = $dir . '/' . ($n === 1 ? $name : "$stem ($n)$ext");
        $handle = @fopen($path, 'x');
        if ($handle !== false) {
            fclose($handle);
            return $path;
        }
    }
}

// $_FILES groups "name[]" inputs into arrays; this gives one entry per file either way.
function each_file(array $files): array
{
    $list = [];
    foreach ($files as $input => $info) {
        if (!is_array($info['name'])) {
            $list[] = [$input, $info];
            continue;
        }
        foreach ($info['name'] as $key => $unused) {
            $entry = [];
            foreach ($info as $field => $values) {
                $entry[$field] = $values[$key];
            }
            $list[] = [$input . '[' . $key . ']', $entry];
        }
    }
    return $list;
}

function answer(int $status, array $lines): void
{
    global $legacySeen, $legacyCharset;
    $text = implode("\n", $lines) . "\n";
    http_response_code($status);
    if ($legacySeen) {
        header('Content-Type: text/plain; charset=' . $legacyCharset);
        echo iconv('UTF-8', $legacyCharset . '//IGNORE', $text);
    } else {
        header('Content-Type: text/plain; charset=utf-8');
        echo $text;
    }
}

if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
    answer(405, ['error: send the files with POST']);
    exit;
}
if (!is_dir($uploadDir) && !mkdir($uploadDir, 0750, true)) {
    answer(500, ['error: no upload folder']);
    exit;
}

// PHP drops the whole body of a request above post_max_size, leaving both arrays empty.
if (empty($_FILES) && empty($_POST) && (int)($_SERVER['CONTENT_LENGTH'] ?? 0) > 0) {
    answer(413, ['error: the upload is larger than the server accepts']);
    exit;
}
// Nothing is kept of a request with a refused file; PHP removes its temporary files itself.
$files = [];
foreach (each_file($_FILES) as [$input, $info]) {
    if ($info['error'] === UPLOAD_ERR_NO_FILE) {
        continue;  // an empty file input of a form
    }
    if (in_array($info['error'], [UPLOAD_ERR_INI_SIZE, UPLOAD_ERR_FORM_SIZE], true) || $info['size'] > $maxFile) {
        answer(413, ['error: a file is larger than ' . min($maxFile, ini_size('upload_max_filesize')) . ' bytes']);
        exit;
    }
    if ($info['error'] !== UPLOAD_ERR_OK) {
        answer(400, ['error: a file did not arrive whole (' . $info['error'] . ')']);
        exit;
    }
    $files[] = $info;
}

$lines = [];
foreach ($files as $info) {
    $path = unused_path($uploadDir, safe_name(utf8_name($info['name'], $legacyCharset)));
    if (!move_uploaded_file($info['tmp_name'], $path)) {
        unlink($path);
        answer(500, ['error: a file could not be stored']);
        exit;
    }
    $lines[] = sprintf('stored %d %s %s', filesize($path), hash_file('sha256', $path), basename($path));
}
foreach ($_POST as $field => $value) {
    $text = is_array($value) ? implode(',', $value) : $value;
    $lines[] = 'field ' . utf8_name((string)$field, $legacyCharset) . ' = ' . utf8_name($text, $legacyCharset);
}
answer(200, $lines);
