#!/usr/bin/env bash
# List benchmark: 10,000 files through the control's file list and its view (tools/bench/
# BenchList.cpp), for each architecture, reported as a table of milliseconds per step.
# PL5_BENCH_ONLY=list runs only the list benchmark, PL5_BENCH_ONLY=upload only the upload one.
# Upload benchmark against a receiver on 127.0.0.1 that reads and discards. Every client sends
# the same files, in alternation within one run, so that the ratios against curl hold even on a
# busy machine:
#   curl            curl -F with the files
#   engine-<arch>   the upload engine alone (tools/bench/pl5_bench.exe), without dialog or page
#   silent-<arch>   the registered control in a page in the page host, SilentMode, timed by the
#                   page around StartUpload (AddFile before, so listing is not timed)
#   visible-<arch>  the same with the progress dialog shown
# File sets: "big" one 512 MiB file; "mixed" one 256 MiB file and 500 files of 1 to 64 KiB;
# "tiny" one file of 1 KiB, whose time is almost all fixed cost: the control's time minus the
# engine's is what the control adds per upload. With "big" and "mixed" both measured, the time a
# client spends per small file is the mixed set's time less its bytes at the big set's rate,
# divided by the 500 files.
# Memory: the peak of the uploading process for a 16 MiB and a 1 GiB sparse file (control,
# silent); an upload holds a fixed amount whatever the file size.
# Environment: PL5_BENCH_ROUNDS (default 3), PL5_BENCH_SETS (default "tiny big mixed"),
# PL5_ARCHS (default x64 x86). ./run bench calls it after building and registering the DLLs,
# with WINEPREFIX exported and a display running.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PL5_BUILD:-$ROOT/build}
ROUNDS=${PL5_BENCH_ROUNDS:-3}
SETS=${PL5_BENCH_SETS:-tiny big mixed}
ARCHS=${PL5_ARCHS:-x64 x86}
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
if [ ! -f "$DATA/.complete-3" ]; then
    echo "bench: making the file sets in $DATA"
    rm -rf "$DATA"
    mkdir -p "$DATA/small"
    python3 - "$DATA" <<'EOF'
import os, random, sys
data = sys.argv[1]
rng = random.Random(5)
block = rng.randbytes(1 << 20)
for name, mib in (("big512.bin", 512), ("big256.bin", 256)):
    with open(os.path.join(data, name), "wb") as f:
        for i in range(mib):
            f.write(block[i:] + block[:i])
for i in range(500):
    size = rng.randint(1, 64 * 1024)
    with open(os.path.join(data, "small", "s%03d.bin" % i), "wb") as f:
        f.write(rng.randbytes(size))
EOF
    head -c 1024 "$DATA/small/s000.bin" >"$DATA/tiny.bin"
    truncate -s 1024 "$DATA/tiny.bin"
    truncate -s 16M "$DATA/sparse16m.bin"
    truncate -s 1G "$DATA/sparse1g.bin"
    touch "$DATA/.complete-3"
fi
# ---- the list benchmark ----------------------------------------------------------------------
LIST_FILES=10000
[ "${PL5_BENCH_ONLY:-}" = upload ] && LIST_FILES=0
if [ "$LIST_FILES" -gt 0 ] && [ ! -f "$DATA/list/.complete" ]; then
    mkdir -p "$DATA/list"
    python3 - "$DATA/list" "$LIST_FILES" <<'EOF'
import os, sys
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], "f%d.txt" % i), "wb") as f:
        f.write(b"0123456789"[: i % 10 + 1])
EOF
    touch "$DATA/list/.complete"
fi
declare -A LIST_MS LIST_THUMBS
LIST_STEPS=()
LIST_ARCHS=()
for arch in $ARCHS; do
    exe=$BUILD/$arch/pl5_bench_list.exe
    [ -f "$exe" ] && [ "$LIST_FILES" -gt 0 ] || continue
    runner=/usr/lib/wine/wine64; [ "$arch" = x86 ] && runner=wine
    out=$("$runner" "$exe" "$(winepath -w "$DATA/list" 2>/dev/null)" "$LIST_FILES" 2>/dev/null </dev/null | tr -d '\r' | grep '^step \|^thumbnails ') || true
    [ -n "$out" ] || { echo "bench: the $arch list benchmark failed" >&2; continue; }
    LIST_THUMBS[$arch]=$(grep '^thumbnails ' <<<"$out" || true)
    out=$(grep '^step ' <<<"$out" || true)
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
    for arch in "${LIST_ARCHS[@]}"; do echo "bench: $arch ${LIST_THUMBS[$arch]:-thumbnails: no figures}"; done
fi
[ "${PL5_BENCH_ONLY:-}" = list ] && exit 0


files_of() {  # $1 = set name; prints one Unix path per line
    case "$1" in
        tiny) echo "$DATA/tiny.bin" ;;
        big) echo "$DATA/big512.bin" ;;
        mixed) echo "$DATA/big256.bin"; ls "$DATA"/small/s*.bin ;;
        mem16) echo "$DATA/sparse16m.bin" ;;
        mem1g) echo "$DATA/sparse1g.bin" ;;
    esac
}

# ---- the receiver ----------------------------------------------------------------------------
python3 "$ROOT/tests/servers/record_server.py" --discard --port-file "$WORK/port" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
PORT=$(cat "$WORK/port")
URL=http://127.0.0.1:$PORT/bench

# Per set: the Windows list for the engine, curl's arguments and a page per dialog mode.
prepare_set() {  # $1 = set
    local set=$1 f n=1
    : >"$WORK/$set.list"
    : >"$WORK/$set.curl"
    while read -r f; do
        printf 'Z:%s\n' "${f//\//\\}" >>"$WORK/$set.list"
        printf -- '-F\nfile%d=@%s\n' "$n" "$f" >>"$WORK/$set.curl"
        n=$((n + 1))
    done < <(files_of "$set")
    printf -- '-F\nbench=pelora5\n' >>"$WORK/$set.curl"
    local silent
    for silent in true false; do
        {
            echo '<html><body>'
            echo '<object id="up" classid="clsid:7E2A99B8-B972-44DB-9201-9A443A38EFD5" width="400" height="300">'
            echo "<param name=\"Language\" value=\"en\"><param name=\"SilentMode\" value=\"$silent\">"
            echo '<param name="UseUnicode" value="true">'
            echo '</object>'
            echo '<script>'
            echo "up.Action = \"$URL\";"
            echo 'up.AppendPostData("bench", "pelora5");'
            while read -r f; do printf 'up.AddFile("%s");\n' "${f//\\/\\\\}"; done <"$WORK/$set.list"
            echo 'var t0 = new Date().getTime();'
            echo 'var answer = up.StartUpload();'
            echo 'host.Print("files", up.GetCount(), "ms", new Date().getTime() - t0, "answer", answer);'
            echo 'host.Exit(0);'
            echo '</script></body></html>'
        } >"$WORK/$set-$silent.html"
    done
}

runner_of() { if [ "$1" = x64 ]; then echo /usr/lib/wine/wine64; else echo wine; fi; }

run_control() {  # $1 = arch, $2 = set, $3 = silent true|false; prints "seconds body_bytes peak"
    local line
    line=$(/usr/bin/time -f 'peak_kb=%M' -o "$WORK/control.time" "$(runner_of "$1")" "$BUILD/$1/host.exe" \
        --timeout 900 "$(winepath -w "$WORK/$2-$3.html" 2>/dev/null)" 2>/dev/null </dev/null | tr -d '\r' | grep '^files ') || true
    case "$line" in
        *"answer received "*) ;;
        *) echo "bench: the upload through the $1 control failed: ${line:-no output}" >&2; return 1 ;;
    esac
    sed -E 's/.* ms ([0-9]+) answer received ([0-9]+) bytes.*/\1 \2/' <<<"$line" |
        awk -v peak="$(sed -n 's/^peak_kb=//p' "$WORK/control.time")" '{ printf "%.3f %s %d\n", $1 / 1000, $2, peak * 1024 }'
}

run_engine() {  # $1 = arch, $2 = set
    local line
    line=$(/usr/bin/time -f 'peak_kb=%M' -o "$WORK/engine.time" "$(runner_of "$1")" "$BUILD/$1/pl5_bench.exe" \
        "$URL" "$(winepath -w "$WORK/$2.list" 2>/dev/null)" 2>/dev/null </dev/null | tr -d '\r' | grep '^outcome=') || true
    case "$line" in
        outcome=received*) ;;
        *) echo "bench: the $1 engine upload failed: ${line:-no output}" >&2; return 1 ;;
    esac
    grep -o 'chunk_us=.*account_us=[0-9.]*' <<<"$line" >"$WORK/costs-$1-$2"
    sed -E 's/.*body_bytes=([0-9]+) seconds=([0-9.]+) .*/\2 \1/' <<<"$line" |
        awk -v peak="$(sed -n 's/^peak_kb=//p' "$WORK/engine.time")" '{ printf "%s %s %d\n", $1, $2, peak * 1024 }'
}

run_curl() {  # $1 = set
    local out args=()
    mapfile -t args <"$WORK/$1.curl"
    out=$(/usr/bin/time -f 'peak_kb=%M' curl -s -o /dev/null -H 'Expect:' -w '%{time_total} %{size_upload}\n' \
        "${args[@]}" "$URL" 2>"$WORK/curl.time")
    echo "$out $(( $(sed -n 's/^peak_kb=//p' "$WORK/curl.time") * 1024 ))"
}

CLIENTS=(curl)
for arch in $ARCHS; do
    [ -f "$BUILD/$arch/pl5_bench.exe" ] && CLIENTS+=("engine-$arch")
    if [ -f "$BUILD/$arch/host.exe" ] && [ -f "$BUILD/$arch/Pelora5.dll" ]; then
        CLIENTS+=("silent-$arch" "visible-$arch")
    fi
done
[ ${#CLIENTS[@]} -gt 1 ] || { echo "bench: nothing to measure under $BUILD" >&2; exit 1; }

RESULTS=$WORK/results.txt
: >"$RESULTS"
measure() {  # $1 = set, $2 = client; appends "set client seconds bytes peak"
    local result
    case "$2" in
        curl) result=$(run_curl "$1") ;;
        engine-*) result=$(run_engine "${2#engine-}" "$1") ;;
        silent-*) result=$(run_control "${2#silent-}" "$1" true) ;;
        visible-*) result=$(run_control "${2#visible-}" "$1" false) ;;
    esac
    echo "$1 $2 $result" >>"$RESULTS"
    read -r s b _ <<<"$result"
    printf 'bench: %-6s %-12s %8.3f s  %7.1f MB/s\n' "$1" "$2" "$s" "$(python3 -c "print($b / $s / 1e6)")"
}

echo "bench: receiver on port $PORT; $ROUNDS rounds of: ${CLIENTS[*]}"
for set in $SETS; do
    prepare_set "$set"
    for round in $(seq "$ROUNDS"); do
        for who in "${CLIENTS[@]}"; do measure "$set" "$who"; done
    done
done
# Memory: the control, silent, with a small and a large sparse file.
for set in mem16 mem1g; do
    prepare_set "$set"
    for arch in $ARCHS; do
        [[ " ${CLIENTS[*]} " == *" silent-$arch "* ]] && measure "$set" "silent-$arch"
    done
done

for f in "$WORK"/costs-*; do
    [ -f "$f" ] && echo "bench: per chunk of 51200 bytes, ${f##*/costs-}: $(cat "$f") (microseconds)"
done
python3 - "$RESULTS" <<'EOF'
import collections, statistics, sys
runs = collections.defaultdict(list)
body, peak = {}, collections.defaultdict(int)
for line in open(sys.argv[1]):
    s, who, sec, size, pk = line.split()
    runs[(s, who)].append(float(sec))
    body[(s, who)] = int(size)
    peak[(s, who)] = max(peak[(s, who)], int(pk))
rate = {k: body[k] / statistics.median(v) for k, v in runs.items()}
# On a busy machine the fastest round of each client shows what it can do; both are given.
best = {k: body[k] / min(v) for k, v in runs.items()}
print()
print("median of the rounds (best round in brackets)")
print("%-6s %-12s %9s %16s %16s %9s" % ("set", "client", "MB/s", "vs curl", "vs silent", "peak MB"))
for (s, who) in sorted(runs, key=lambda k: (k[0], k[1] != "curl", k[1])):
    if s.startswith("mem"):
        continue
    ratio = "%.2f (%.2f)" % (rate[(s, who)] / rate[(s, "curl")], best[(s, who)] / best[(s, "curl")])
    silent = ""
    if who.startswith("visible-") and (s, "silent-" + who[8:]) in rate:
        other = (s, "silent-" + who[8:])
        silent = "%.3f (%.3f)" % (rate[(s, who)] / rate[other], best[(s, who)] / best[other])
    print("%-6s %-12s %9.1f %16s %16s %9.1f" % (s, who, rate[(s, who)] / 1e6, ratio, silent, peak[(s, who)] / 2**20))
med = {k: statistics.median(v) for k, v in runs.items()}
clients = sorted({who for (_, who) in runs}, key=lambda w: (w != "curl", w))
for arch in ("x64", "x86"):
    engine = med.get(("tiny", "engine-" + arch))
    if engine is None:
        continue
    added = ["%s %.1f ms" % (who, (med[("tiny", who)] - engine) * 1e3) for who in clients
             if who.endswith("-" + arch) and not who.startswith("engine-") and ("tiny", who) in med]
    print("fixed cost per upload, %s (1 KiB file, over the engine's %.1f ms): %s"
          % (arch, engine * 1e3, ", ".join(added)))
per_file = []
for who in clients:
    if ("big", who) in med and ("mixed", who) in med:
        bytes_time = body[("mixed", who)] * med[("big", who)] / body[("big", who)]
        per_file.append("%s %.3f ms" % (who, (med[("mixed", who)] - bytes_time) * 1e3 / 500))
if per_file:
    print("per small file of the mixed set (its time less its bytes at the big set's rate, / 500): "
          + ", ".join(per_file))
for arch in ("x64", "x86"):
    small, large = peak.get(("mem16", "silent-" + arch)), peak.get(("mem1g", "silent-" + arch))
    if small and large:
        print("memory %s: peak %.1f MB with a 16 MiB file, %.1f MB with a 1 GiB file (difference %.1f MB)"
              % (arch, small / 2**20, large / 2**20, (large - small) / 2**20))
EOF
