<?php
// Receiving script for uploads: answers with a plain, readable account of what arrived, one
// line per file and per field, so a person (or a test) can check every name, size and checksum.
//   php -S 127.0.0.1:8080 receive.php
// "?delay=SECONDS" makes it take that long before answering, as a busy server does.
header('Content-Type: text/plain; charset=utf-8');
if (isset($_GET['delay'])) {
    usleep((int)(min(10.0, (float)$_GET['delay']) * 1000000));
}

// $_FILES groups "name[]" inputs into nested arrays; this flattens them into one entry per file.
function uploaded_files(array $files): array
{
    $list = [];
    foreach ($files as $input => $info) {
        if (is_array($info['name'])) {
            walk_nested($list, $input, $info['name'], $info);
        } else {
            $list[] = [$input, $info];
        }
    }
    return $list;
}

function walk_nested(array &$list, string $prefix, array $names, array $info, array $path = []): void
{
    foreach ($names as $key => $value) {
        $here = array_merge($path, [$key]);
        $label = $prefix . '[' . implode('][', $here) . ']';
        if (is_array($value)) {
            walk_nested($list, $prefix, $value, $info, $here);
            continue;
        }
        $entry = [];
        foreach (['name', 'full_path', 'type', 'tmp_name', 'error', 'size'] as $field) {
            if (!isset($info[$field])) {
                continue;
            }
            $node = $info[$field];
            foreach ($here as $step) {
                $node = $node[$step];
            }
            $entry[$field] = $node;
        }
        $list[] = [$label, $entry];
    }
}

function fields(array $post, string $prefix = ''): array
{
    $list = [];
    foreach ($post as $name => $value) {
        $label = $prefix === '' ? (string)$name : $prefix . '[' . $name . ']';
        if (is_array($value)) {
            $list = array_merge($list, fields($value, $label));
        } else {
            $list[] = [$label, $value];
        }
    }
    return $list;
}

$files = uploaded_files($_FILES);
$posted = fields($_POST);

echo "Pelora5 receiver\n";
echo 'method: ', $_SERVER['REQUEST_METHOD'], "\n";
echo 'query: ', $_SERVER['QUERY_STRING'] ?? '', "\n";
echo 'content length: ', $_SERVER['CONTENT_LENGTH'] ?? '', "\n";
echo 'files: ', count($files), "\n";
foreach ($files as [$input, $info]) {
    $ok = ($info['error'] ?? -1) === UPLOAD_ERR_OK;
    printf("  %s: name=\"%s\" full_path=\"%s\" type=\"%s\" size=%d md5=%s error=%d\n",
        $input, $info['name'] ?? '', $info['full_path'] ?? '', $info['type'] ?? '',
        $info['size'] ?? 0, $ok ? md5_file($info['tmp_name']) : '-', $info['error'] ?? -1);
}
echo 'fields: ', count($posted), "\n";
foreach ($posted as [$name, $value]) {
    printf("  %s = \"%s\"\n", $name, $value);
}
