#!/usr/bin/env bash
# Runs pages/receivers.html against the three example receivers (started by with_servers.sh with
# PL5_EXAMPLE_RECEIVERS=1, under a Korean locale so the control's code page is 949), directly and
# through a proxy that loses the first answer, checks what each receiver stored on disk and the
# Idempotency-Key of each attempt, then sends each the requests of a hostile client.
#   receivers_test.sh EMULATOR HOST.EXE
set -u
EMULATOR=$1 HOST=$2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-receivers.XXXXXX")
PROXIES=()
trap 'kill "${PROXIES[@]}" 2>/dev/null; rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
fail() { echo "FAIL: $*"; exit 1; }

receivers=(php node python)
for receiver in "${receivers[@]}"; do
    RECEIVER=${receiver^^}
    port_var=PL5_RECEIVER_${RECEIVER}_PORT
    python3 "$HERE/../progress/throttle_proxy.py" --target "${!port_var}" --lose-answers 1 --keys "$WORK/$receiver.keys" \
        --port-file "$WORK/$receiver.proxy" >"$WORK/$receiver.proxy.log" 2>&1 &
    PROXIES+=($!)
    for _ in $(seq 100); do [ -s "$WORK/$receiver.proxy" ] && break; sleep 0.05; done
    [ -s "$WORK/$receiver.proxy" ] || fail "the proxy for $receiver did not start"
    export "PL5_LOSING_${RECEIVER}_PORT=$(cat "$WORK/$receiver.proxy")"
done

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

# Both attempts of the upload whose answer was lost carried one key, a quoted UUID.
for receiver in "${receivers[@]}"; do
    keys=()
    [ -f "$WORK/$receiver.keys" ] && mapfile -t keys <"$WORK/$receiver.keys"
    if [ "${#keys[@]}" != 2 ] || [ "${keys[0]}" != "${keys[1]}" ] ||
        ! [[ ${keys[0]} =~ ^\"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\"$ ]]; then
        fail "$receiver: the attempts through the proxy carried the keys ${keys[*]}"
    fi
done

# Every receiver stored the three uploads once each (the one whose answer was lost too), each file
# under a name of its own with the client's name in its side file, with the same bytes.
folders=("$PL5_RECEIVER_DIR/pelora5-uploads" "$PL5_RECEIVER_DIR/node" "$PL5_RECEIVER_DIR/python")
for i in 0 1 2; do
    for name in "${names[@]}"; do
        copies=0
        for side in $(grep -l -F "\"name\":\"$name\"" "${folders[$i]}"/*.json); do
            cmp -s "$WORK/files/$name" "${side%.json}" || fail "${receivers[$i]} did not store $name as sent"
            copies=$((copies + 1))
        done
        [ "$copies" = 3 ] || fail "${receivers[$i]} stored $name $copies times, not 3"
    done
done
echo "receivers: every file stored"

/usr/bin/python3 "$HERE/hostile_receivers.py" || fail "a receiver mishandled a hostile request"
