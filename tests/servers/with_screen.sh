#!/usr/bin/env bash
# Runs a command on an X screen of its own (an X server on the first free display) and stops the
# server afterwards, however the command ends:  with_screen.sh WIDTHxHEIGHT command...
# For a command with a Wine prefix of its own: its windows, focus and input then touch no other
# test's.
set -u
GEOMETRY=$1
shift
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-screen.XXXXXX")
XVFB_PID=

cleanup() {
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The server writes the display it took once it accepts connections.
Xvfb -displayfd 3 -screen 0 "${GEOMETRY}x24" -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 200); do
    [ -s "$WORK/display" ] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.05
done
[ -s "$WORK/display" ] || { echo "with_screen: no X server" >&2; exit 1; }
export DISPLAY=:$(tr -d '\n' <"$WORK/display")

"$@"
exit $?
