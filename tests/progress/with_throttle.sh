#!/usr/bin/env bash
# Runs a command with a throttling proxy in front of PHP's receiver (started before by
# tests/servers/with_servers.sh, which exports PL5_PHP_PORT) and stops the proxy afterwards:
#   PL5_SLOW_PORT   the proxy's port; requests through it go at PL5_SLOW_RATE bytes per second
#                   (default 2 MB/s)
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-throttle.XXXXXX")
PID=

cleanup() {
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ -n "${PL5_PHP_PORT:-}" ] || { echo "with_throttle: run inside with_servers.sh" >&2; exit 1; }
python3 "$HERE/throttle_proxy.py" --target "$PL5_PHP_PORT" --rate "${PL5_SLOW_RATE:-2097152}" \
    --port-file "$WORK/port" >"$WORK/proxy.log" 2>&1 &
PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
[ -s "$WORK/port" ] || { echo "with_throttle: the proxy did not start" >&2; exit 1; }
export PL5_SLOW_PORT=$(cat "$WORK/port")

"$@"
exit $?
