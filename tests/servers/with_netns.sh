#!/usr/bin/env bash
# Runs a command with a test network of its own, so that pages can be tried from and against
# addresses that are neither loopback nor anybody else's: a network namespace joined to this one by
# a veth pair, holding two public addresses (from 198.51.100.0/24, kept for documentation) and a
# private one (from 10.251.0.0/16), with a recording server on all (tests/servers/record_server.py).
# Only these addresses are routed to the namespace, and the namespace has no route out.
#   PL5_NET_PUBLIC    the namespace's public address
#   PL5_NET_TRUSTED   a second public address, for a site mapped to another zone than the first
#   PL5_NET_PRIVATE   its private address
#   PL5_NET_PORT      the recording server's port on all three
# Needs root. Runs at the same time take different addresses; everything made goes at the end.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-netns.XXXXXX")
NS= VETH= PID=

cleanup() {
    [ -n "$PID" ] && kill "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    [ -n "$VETH" ] && ip link del "$VETH" 2>/dev/null
    [ -n "$NS" ] && ip netns del "$NS" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

[ "$(id -u)" -eq 0 ] || { echo "with_netns: needs root (ip netns)" >&2; exit 1; }
command -v ip >/dev/null || { echo "with_netns: ip (iproute2) is missing" >&2; exit 1; }

# One /29 of 198.51.100.0/24 and one /24 of 10.251.0.0/16 per run, numbered by a free slot.
exec 9>/tmp/pl5-netns.lock
flock 9
for slot in $(seq 1 30); do
    if ! ip netns list 2>/dev/null | grep -qw "pl5net$slot"; then
        NS=pl5net$slot
        ip netns add "$NS" || { NS=; echo "with_netns: ip netns add failed" >&2; exit 1; }
        break
    fi
done
flock -u 9
[ -n "$NS" ] || { echo "with_netns: no free slot" >&2; exit 1; }
VETH=pl5v$slot
PEER=pl5p$slot
OUTER=198.51.100.$((slot * 8 + 1))
export PL5_NET_PUBLIC=198.51.100.$((slot * 8 + 2)) PL5_NET_TRUSTED=198.51.100.$((slot * 8 + 3))
export PL5_NET_PRIVATE=10.251.$slot.2

ip link add "$VETH" type veth peer name "$PEER" || exit 1
ip link set "$PEER" netns "$NS" || exit 1
ip addr add "$OUTER/29" dev "$VETH"
ip link set "$VETH" up
ip route add "$PL5_NET_PRIVATE/32" dev "$VETH"
ip netns exec "$NS" ip link set lo up
ip netns exec "$NS" ip addr add "$PL5_NET_PUBLIC/29" dev "$PEER"
ip netns exec "$NS" ip addr add "$PL5_NET_TRUSTED/29" dev "$PEER"
ip netns exec "$NS" ip addr add "$PL5_NET_PRIVATE/32" dev "$PEER"
ip netns exec "$NS" ip link set "$PEER" up
# The namespace answers only this side: no default route leaves it.

ip netns exec "$NS" python3 "$HERE/record_server.py" --host 0.0.0.0 --port-file "$WORK/port" \
    >"$WORK/record.log" 2>&1 &
PID=$!
for _ in $(seq 100); do [ -s "$WORK/port" ] && break; sleep 0.05; done
[ -s "$WORK/port" ] || { echo "with_netns: the recording server did not start" >&2; cat "$WORK/record.log" >&2; exit 1; }
export PL5_NET_PORT=$(cat "$WORK/port")
for _ in $(seq 100); do
    python3 -c "import socket; socket.create_connection(('$PL5_NET_PUBLIC', $PL5_NET_PORT), 0.2)" 2>/dev/null && break
    sleep 0.05
done

"$@"
exit $?
