#!/usr/bin/env bash
# List benchmark: 10,000 files through the control's file list and its view (tools/bench/
# BenchList.cpp), for each architecture, reported as a table of milliseconds per step.
# Upload benchmark: one 256 MB file and 500 small files, sent to a receiver on 127.0.0.1 that
# reads and discards, in alternation by
#   control-<arch>  the registered control in a page run by the page host (AddFile, StartUpload
#                   with SilentMode), timed by the page around StartUpload;
#   worker-<arch>   the upload worker alone (tools/bench/pl5_bench.exe), without dialog or page;
#   curl            curl -F with the same files.
# Prints the throughput ratio against curl and the peak memory of each uploading process.
# PL5_BENCH_ONLY=list runs only the list benchmark.
# ./run bench calls it after building both architectures and registering the DLLs, with
# WINEPREFIX exported and a display running.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PL5_BUILD:-$ROOT/build}
ROUNDS=${PL5_BENCH_ROUNDS:-3}
DATA=$BUILD/bench-data
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-bench.XXXXXX")
SERVER_PID=

cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill "$SERVER_PID" 2>/dev/null || true
        wait "$SERVER_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

# ---- the files (made once, deterministic) ----------------------------------------------------
if [ ! -f "$DATA/.complete" ]; then
    echo "bench: making the file set in $DATA"
    rm -rf "$DATA"
    mkdir -p "$DATA/small"
    python3 - "$DATA" <<'EOF'
import os, random, sys
data = sys.argv[1]
rng = random.Random(5)
block = rng.randbytes(1 << 20)
with open(os.path.join(data, "big.bin"), "wb") as f:
    for i in range(256):
        f.write(block[i:] + block[:i])
for i in range(500):
    size = rng.randint(1, 64 * 1024)
    with open(os.path.join(data, "small", "s%03d.bin" % i), "wb") as f:
        f.write(rng.randbytes(size))
EOF
    touch "$DATA/.complete"
fi
# ---- the list benchmark ----------------------------------------------------------------------
LIST_FILES=10000
if [ ! -f "$DATA/list/.complete" ]; then
    mkdir -p "$DATA/list"
    python3 - "$DATA/list" "$LIST_FILES" <<'EOF'
import os, sys
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], "f%d.txt" % i), "wb") as f:
        f.write(b"0123456789"[: i % 10 + 1])
EOF
    touch "$DATA/list/.complete"
fi
declare -A LIST_MS
LIST_STEPS=()
LIST_ARCHS=()
for arch in x64 x86; do
    exe=$BUILD/$arch/pl5_bench_list.exe
    [ -f "$exe" ] || continue
    runner=/usr/lib/wine/wine64; [ "$arch" = x86 ] && runner=wine
    out=$("$runner" "$exe" "$(winepath -w "$DATA/list" 2>/dev/null)" "$LIST_FILES" 2>/dev/null </dev/null | tr -d '\r' | grep '^step ') || true
    [ -n "$out" ] || { echo "bench: the $arch list benchmark failed" >&2; continue; }
    LIST_ARCHS+=("$arch")
    while read -r _ name _ ms _ rows; do
        [ -n "${LIST_MS[$name,x64]:-}${LIST_MS[$name,x86]:-}" ] || LIST_STEPS+=("$name")
        LIST_MS[$name,$arch]="$ms ms ($rows rows)"
    done <<<"$out"
done
if [ ${#LIST_ARCHS[@]} -gt 0 ]; then
    echo "bench: file list with $LIST_FILES files (each step until the view has repainted)"
    printf '| %-30s |' step; for arch in "${LIST_ARCHS[@]}"; do printf ' %-22s |' "$arch"; done; echo
    printf '|%s|' "$(printf -- '-%.0s' $(seq 32))"; for arch in "${LIST_ARCHS[@]}"; do printf '%s|' "$(printf -- '-%.0s' $(seq 24))"; done; echo
    for name in "${LIST_STEPS[@]}"; do
        printf '| %-30s |' "$name"; for arch in "${LIST_ARCHS[@]}"; do printf ' %-22s |' "${LIST_MS[$name,$arch]:-}"; done; echo
    done
fi
[ "${PL5_BENCH_ONLY:-}" = list ] && exit 0

# ---- the upload benchmark ----------------------------------------------------------------------
FILES=("$DATA/big.bin")
for f in "$DATA"/small/s*.bin; do FILES+=("$f"); done
TOTAL=0
for f in "${FILES[@]}"; do TOTAL=$((TOTAL + $(stat -c %s "$f"))); done

# The worker reads Windows paths: Wine's Z: drive is the Unix root.
LIST=$WORK/files.txt
for f in "${FILES[@]}"; do printf 'Z:%s\n' "${f//\//\\}"; done >"$LIST"
CURL_ARGS=()
n=1
for f in "${FILES[@]}"; do CURL_ARGS+=(-F "file$n=@$f"); n=$((n + 1)); done
CURL_ARGS+=(-F "bench=pelora5")

# ---- the receiver ----------------------------------------------------------------------------
python3 "$ROOT/tests/servers/record_server.py" --discard --port-file "$WORK/port" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
PORT=$(cat "$WORK/port")
URL=http://127.0.0.1:$PORT/bench

echo "bench: ${#FILES[@]} files, $TOTAL content bytes, $ROUNDS rounds, receiver on port $PORT"

# The page for the control: every file added by script, then one upload in silent mode.
PAGE=$WORK/bench.html
{
    echo '<html><body>'
    echo '<object id="up" classid="clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5" width="400" height="300">'
    echo '<param name="Language" value="en"><param name="SilentMode" value="true"><param name="UseUnicode" value="true">'
    echo '</object>'
    echo '<script>'
    echo "up.Action = \"$URL\";"
    echo 'up.AppendPostData("bench", "pelora5");'
    while read -r f; do printf 'up.AddFile("%s");\n' "${f//\\/\\\\}"; done <"$LIST"
    echo 'var t0 = new Date().getTime();'
    echo 'var answer = up.StartUpload();'
    echo 'host.Print("files", up.GetCount(), "ms", new Date().getTime() - t0, "answer", answer);'
    echo 'host.Exit(0);'
    echo '</script></body></html>'
} >"$PAGE"

runner_of() { if [ "$1" = x64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi; }

run_control() {  # $1 = arch; prints "seconds body_bytes peak"
    local line
    line=$(/usr/bin/time -f 'peak_kb=%M' -o "$WORK/control.time" "$(runner_of "$1")" "$BUILD/$1/host.exe" \
        --timeout 600 "$(winepath -w "$PAGE" 2>/dev/null)" 2>/dev/null </dev/null | tr -d '\r' | grep '^files ') || true
    case "$line" in
        *"answer received "*) ;;
        *) echo "bench: the upload through the $1 control failed: ${line:-no output}" >&2; return 1 ;;
    esac
    sed -E 's/.* ms ([0-9]+) answer received ([0-9]+) bytes.*/\1 \2/' <<<"$line" |
        awk -v peak="$(sed -n 's/^peak_kb=//p' "$WORK/control.time")" '{ printf "%.3f %s %d\n", $1 / 1000, $2, peak * 1024 }'
}

run_worker() {  # $1 = arch; prints "seconds body_bytes peak"
    local line
    line=$("$(runner_of "$1")" "$BUILD/$1/pl5_bench.exe" "$URL" "$(winepath -w "$LIST" 2>/dev/null)" 2>/dev/null </dev/null |
        tr -d '\r' | grep '^outcome=') || true
    case "$line" in
        outcome=received*) ;;
        *) echo "bench: the $1 worker upload failed: ${line:-no output}" >&2; return 1 ;;
    esac
    sed -E 's/.*body_bytes=([0-9]+) seconds=([0-9.]+) .*peak_working_set=([0-9]+).*/\2 \1 \3/' <<<"$line"
}

run_curl() {  # prints "seconds body_bytes peak"
    local out
    out=$(/usr/bin/time -f 'peak_kb=%M' curl -s -o /dev/null -H 'Expect:' -w '%{time_total} %{size_upload}\n' \
        "${CURL_ARGS[@]}" "$URL" 2>"$WORK/curl.time")
    echo "$out $(( $(sed -n 's/^peak_kb=//p' "$WORK/curl.time") * 1024 ))"
}

declare -A SECONDS_OF BYTES_OF PEAK_OF
CLIENTS=()
for arch in x64 x86; do
    [ -f "$BUILD/$arch/host.exe" ] && [ -f "$BUILD/$arch/Pelora5.dll" ] && CLIENTS+=("control-$arch")
    [ -f "$BUILD/$arch/pl5_bench.exe" ] && CLIENTS+=("worker-$arch")
done
[ ${#CLIENTS[@]} -gt 0 ] || { echo "bench: nothing to measure under $BUILD" >&2; exit 1; }

for round in $(seq "$ROUNDS"); do
    for who in "${CLIENTS[@]}" curl; do
        case "$who" in
            curl) result=$(run_curl) ;;
            control-*) result=$(run_control "${who#control-}") ;;
            worker-*) result=$(run_worker "${who#worker-}") ;;
        esac
        read -r s b p <<<"$result"
        SECONDS_OF[$who]="${SECONDS_OF[$who]:-} $s"
        BYTES_OF[$who]=$b
        [ "${PEAK_OF[$who]:-0}" -ge "$p" ] || PEAK_OF[$who]=$p
        printf 'bench: round %d %-11s %8.3f s  %6.1f MB/s\n' "$round" "$who" "$s" \
            "$(python3 -c "print($b / $s / 1e6)")"
    done
done

python3 - "${CLIENTS[@]}" <<EOF
import statistics, sys
seconds = {$(for w in "${CLIENTS[@]}" curl; do printf '"%s": [%s], ' "$w" "$(sed 's/^ //; s/ /, /g' <<<"${SECONDS_OF[$w]}")"; done)}
body = {$(for w in "${CLIENTS[@]}" curl; do printf '"%s": %s, ' "$w" "${BYTES_OF[$w]}"; done)}
peak = {$(for w in "${CLIENTS[@]}" curl; do printf '"%s": %s, ' "$w" "${PEAK_OF[$w]}"; done)}
rate = {w: body[w] / statistics.median(s) for w, s in seconds.items()}
print("bench: median throughput: " + ", ".join("%s %.1f MB/s" % (w, r / 1e6) for w, r in rate.items()))
print("bench: peak memory of curl %.1f MB" % (peak["curl"] / 2**20))
for who in sys.argv[1:]:
    print("bench: throughput ratio %s/curl = %.2f; peak memory of the uploading process %.1f MB"
          % (who, rate[who] / rate["curl"], peak[who] / 2**20))
EOF
