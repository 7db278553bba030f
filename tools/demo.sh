#!/usr/bin/env bash
# The demonstration behind ./run demo: uploads a set of sample files and fields from a page in
# the page host through the registered control, with the progress dialog on screen, to the example
# PHP receiver (examples/receivers/php, storing under build/demo/received) on 127.0.0.1; saves a screenshot of the dialog while the upload runs and
# prints the answer as the page received it.
#
# ./run demo calls it after building the x64 DLL and page host into $BUILD, with the Wine session
# (WINEPREFIX, DISPLAY, wineserver) started and the DLLs registered. PL5_DEMO_ARCH=x86 runs the
# 32-bit host and control instead of the 64-bit ones.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${PL5_BUILD:-$ROOT/build}
ARCH=${PL5_DEMO_ARCH:-x64}
DEMO=$BUILD/demo
SHOT=$BUILD/demo-upload.png
# The way to the receiver is limited to 1 MB per second, so the dialog can be watched (and
# photographed) while the files go out; a local upload would be over at once.
RATE=${PL5_DEMO_RATE:-1048576}

case "$ARCH" in
  x64) WINE=/usr/lib/wine/wine64 ;;
  x86) WINE=wine ;;
  *) echo "demo: PL5_DEMO_ARCH is x64 or x86" >&2; exit 2 ;;
esac
HOST=$BUILD/$ARCH/host.exe
[ -f "$HOST" ] || { echo "demo: $HOST is missing; build first (./run build)" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "demo: no DISPLAY; run it through ./run demo" >&2; exit 1; }

PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
wait_for_port() {
    for _ in $(seq 100); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $1), 0.2)" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# ---- sample files -----------------------------------------------------------------------------
rm -rf "$DEMO"
mkdir -p "$DEMO/files"
printf 'Day 1: arrived late, the sea was calm.\nDay 2: boat to the island.\n' >"$DEMO/files/diary.txt"
printf 'place,date\nBusan,2026-07-01\nJeju,2026-07-03\n' >"$DEMO/files/itinerary.csv"
python3 - "$DEMO/files" <<'PY'
import os, random, sys
folder = sys.argv[1]
rng = random.Random(5)
for name, size in (("beach.jpg", 2600000), ("harbour.jpg", 1900000), ("video-clip.mp4", 3400000)):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(size)))
PY

# ---- the receiver, and the slow way to it ----------------------------------------------------
PHP_PORT=$(free_port)
# As a site runs it: the receiver's folder the document root, the uploads outside it.
PL5_UPLOAD_DIR=$DEMO/received php -d enable_post_data_reading=0 -S "127.0.0.1:$PHP_PORT" \
    -t "$ROOT/examples/receivers/php" >"$DEMO/php.log" 2>&1 &
PIDS+=($!)
wait_for_port "$PHP_PORT" || { echo "demo: PHP's built-in server did not start" >&2; exit 1; }
python3 "$ROOT/tests/progress/throttle_proxy.py" --target "$PHP_PORT" --rate "$RATE" \
    --port-file "$DEMO/proxy.port" >"$DEMO/proxy.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$DEMO/proxy.port" ] && break; sleep 0.05; done
[ -s "$DEMO/proxy.port" ] || { echo "demo: the proxy did not start" >&2; exit 1; }
export PL5_DEMO_PORT=$(cat "$DEMO/proxy.port")
PL5_DEMO_FILES=
for f in "$DEMO"/files/*; do PL5_DEMO_FILES+="${PL5_DEMO_FILES:+;}$(winepath -w "$f")"; done
export PL5_DEMO_FILES
# The page with the control in it, its files listed, before the upload starts.
PAGE_SHOT=$BUILD/demo-page.png
rm -f "$PAGE_SHOT"
export PL5_DEMO_PAGE_SHOT=$(winepath -w "$PAGE_SHOT")
echo "demo: receiver examples/receivers/php/receive.php on 127.0.0.1:$PHP_PORT, reached at 127.0.0.1:$PL5_DEMO_PORT ($RATE bytes/s)"

# ---- the page, and a picture of the dialog while it uploads -----------------------------------
"$WINE" "$HOST" --timeout 300 "$ROOT/tools/demo/upload_demo.html" >"$DEMO/page.out" 2>"$DEMO/page.err" &
HOST_PID=$!
PIDS+=($HOST_PID)
rm -f "$SHOT"
for _ in $(seq 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '" File Upload - Pelora"'; then
        sleep 2  # into the upload: the first files are done, the big ones on their way
        xwd -root -silent | convert xwd:- "png:$SHOT" && echo "demo: screenshot of the dialog: $SHOT"
        break
    fi
    kill -0 "$HOST_PID" 2>/dev/null || break
    sleep 0.1
done
[ -f "$SHOT" ] || echo "demo: the progress dialog was not seen; no screenshot" >&2

set +e
wait "$HOST_PID"
status=$?
set -e
[ -f "$PAGE_SHOT" ] && echo "demo: screenshot of the page: $PAGE_SHOT"
echo "---- the page ($ARCH) ----"
cat "$DEMO/page.out"
[ -s "$DEMO/page.err" ] && cat "$DEMO/page.err" >&2
echo "demo: the page ended with $status"
exit "$status"
