#!/usr/bin/env bash
# Runs pages/receivers.html against the three example receivers (started by with_servers.sh with
# PL5_EXAMPLE_RECEIVERS=1, under a Korean locale so the control's code page is 949), checks what
# each receiver stored on disk, then sends each the requests of a hostile client.
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

# Every receiver stored both uploads, each file under a name of its own with the client's name in
# its side file, with the same bytes.
folders=("$PL5_RECEIVER_DIR/pelora5-uploads" "$PL5_RECEIVER_DIR/node" "$PL5_RECEIVER_DIR/python")
receivers=(php node python)
for i in 0 1 2; do
    for name in "${names[@]}"; do
        copies=0
        for side in $(grep -l -F "\"name\":\"$name\"" "${folders[$i]}"/*.json); do
            cmp -s "$WORK/files/$name" "${side%.json}" || fail "${receivers[$i]} did not store $name as sent"
            copies=$((copies + 1))
        done
        [ "$copies" = 2 ] || fail "${receivers[$i]} stored $name $copies times, not twice"
    done
done
echo "receivers: every file stored"

/usr/bin/python3 "$HERE/hostile_receivers.py" || fail "a receiver mishandled a hostile request"
