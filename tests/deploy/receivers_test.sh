#!/usr/bin/env bash
# Runs pages/receivers.html against the three example receivers (started by with_servers.sh with
# PL5_EXAMPLE_RECEIVERS=1, under a Korean locale so the control's code page is 949), then checks
# what each receiver stored on disk and that a hostile client's file name stays in the folder.
#   receivers_test.sh EMULATOR HOST.EXE
set -u
EMULATOR=$1 HOST=$2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-receivers.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir -p "$WORK/files"
printf 'plain text\r\n' >"$WORK/files/notes.txt"
printf '한글 이름의 파일\n' >"$WORK/files/한글 문서.txt"
head -c 300000 /dev/urandom >"$WORK/files/photo.jpg"
names=(notes.txt "한글 문서.txt" photo.jpg)
files= lines=
for name in "${names[@]}"; do
    path=$WORK/files/$name
    files+="${files:+;}$(winepath -w "$path")"
    lines+="${lines:+|}stored $(stat -c %s "$path") $(sha256sum "$path" | cut -d' ' -f1) $name"
done
export PL5_UPLOAD_FILES=$files PL5_EXPECTED_LINES=$lines

# shellcheck disable=SC2086
timeout 240 $EMULATOR "$HOST" --timeout 200 "$HERE/pages/receivers.html" </dev/null || fail "the page failed"

# Every receiver stored both uploads under the safe names, with the same bytes.
for receiver in php node python; do
    for name in "${names[@]}"; do
        second="${name%.*} (2).${name##*.}"
        for stored in "$name" "$second"; do
            cmp -s "$WORK/files/$name" "$PL5_RECEIVER_DIR/$receiver/$stored" ||
                fail "$receiver did not store $stored as sent"
        done
    done
done

# A client that names its file "..\..\x" (or "../x", or "..") gets it stored inside the folder.
printf 'hostile' >"$WORK/h"
ports=("$PL5_RECEIVER_PHP_PORT/receive.php" "$PL5_RECEIVER_NODE_PORT/" "$PL5_RECEIVER_PYTHON_PORT/")
receivers=(php node python)
for i in 0 1 2; do
    folder=$PL5_RECEIVER_DIR/${receivers[$i]}
    for hostile in '..\..\x' '../../y' '..'; do
        answer=$(curl -s -F "f=@$WORK/h;filename=$hostile" "http://127.0.0.1:${ports[$i]}") ||
            fail "${receivers[$i]}: no answer to $hostile"
        stored=${answer##* }
        case "$stored" in (*/*|*\\*|.|..|'') fail "${receivers[$i]} stored $hostile as '$stored'" ;; esac
        cmp -s "$WORK/h" "$folder/$stored" || fail "${receivers[$i]}: $hostile is not in its folder as $stored"
    done
done
# A file above the receivers' limit is refused with 413, and nothing of that request is kept.
head -c $((PL5_RECEIVER_MAX_FILE + 1)) /dev/zero >"$WORK/big"
for i in 0 1 2; do
    folder=$PL5_RECEIVER_DIR/${receivers[$i]}
    before=$(ls -A "$folder" | wc -l)
    status=$(curl -s -o "$WORK/answer" -w '%{http_code}' -F "a=@$WORK/h;filename=small.txt" \
             -F "b=@$WORK/big;filename=big.bin" "http://127.0.0.1:${ports[$i]}")
    [ "$status" = 413 ] && grep -q '^error: ' "$WORK/answer" ||
        fail "${receivers[$i]} answered $status to a file above the limit: $(cat "$WORK/answer")"
    [ "$(ls -A "$folder" | wc -l)" = "$before" ] || fail "${receivers[$i]} kept part of a refused upload"
done

for outside in "$PL5_RECEIVER_DIR" "$(dirname "$PL5_RECEIVER_DIR")"; do
    [ ! -e "$outside/x" ] && [ ! -e "$outside/y" ] || fail "a hostile name left its upload folder"
done
echo "receivers: every file stored, hostile names kept inside"
