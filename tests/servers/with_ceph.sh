#!/usr/bin/env bash
# Runs a command with a private S3-compatible object store on 127.0.0.1 and removes it afterwards,
# however the command ends: a Ceph cluster of one monitor and one OSD (bluestore on a sparse file,
# no manager, no authentication between the daemons) with a RADOS gateway in front, a user and an
# empty bucket. The command finds it in
#   PL5_S3_ENDPOINT (http://127.0.0.1:PORT), PL5_S3_BUCKET, PL5_S3_ACCESS_KEY, PL5_S3_SECRET_KEY,
#   PL5_S3_REGION
# Needs Debian's ceph-mon, ceph-osd, radosgw and ceph-common.
set -u
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-ceph.XXXXXX")
CONF=$WORK/ceph.conf

say() { echo "with_ceph: $*" >&2; }

cleanup() {
    # Each daemon by its own PID file: the gateway first, the monitor last.
    local name pid
    for name in client.rgw osd.0 mon.a; do
        pid=$(cat "$WORK/run/$name.pid" 2>/dev/null) || continue
        kill "$pid" 2>/dev/null
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    done
    wait
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for tool in ceph-mon ceph-osd radosgw ceph monmaptool radosgw-admin curl; do
    command -v "$tool" >/dev/null || { say "$tool is missing (Debian: ceph-mon ceph-osd radosgw ceph-common)"; exit 1; }
done

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_until() {
    local tenths=$1
    shift
    for _ in $(seq "$tenths"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

MON_PORT=$(free_port) RGW_PORT=$(free_port)
FSID=$(cat /proc/sys/kernel/random/uuid)
mkdir -p "$WORK"/{run,log,mon,osd,rgw}
cat >"$CONF" <<EOF
[global]
fsid = $FSID
mon host = v1:127.0.0.1:$MON_PORT
public addr = 127.0.0.1
cluster addr = 127.0.0.1
auth cluster required = none
auth service required = none
auth client required = none
# Without authentication the clients must not ask for a secure monitor session, or they retry
# their login for minutes.
ms mon client mode = crc
run dir = $WORK/run
admin socket = $WORK/run/\$name.asok
log file = $WORK/log/\$name.log
# One OSD: one copy of everything, few placement groups, and nobody to change their number.
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
osd pool default pg autoscale mode = off
mon allow pool size one = true
mon warn on pool no redundancy = false
osd crush chooseleaf type = 0
# A short proposal interval: each pool the gateway creates waits for one.
paxos propose interval = 0.05
[mon]
mon data = $WORK/mon
[osd]
osd data = $WORK/osd
osd class update on start = false
osd crush update on start = false
osd objectstore = bluestore
bluestore block path = $WORK/osd.block
bluestore block create = true
bluestore block size = 10737418240
bluestore block db create = false
bluestore block wal create = false
osd memory target = 536870912
bluestore cache autotune = false
bluestore cache size = 67108864
[client.rgw]
rgw data = $WORK/rgw
rgw frontends = beast endpoint=127.0.0.1:$RGW_PORT
rgw dns name = 127.0.0.1
EOF

ceph_cmd() { timeout 30 ceph -c "$CONF" "$@"; }

monmaptool --create --addv a "[v1:127.0.0.1:$MON_PORT]" --fsid "$FSID" "$WORK/monmap" >/dev/null ||
    { say "monmaptool failed"; exit 1; }
ceph-mon -c "$CONF" -i a --mkfs --monmap "$WORK/monmap" >"$WORK/log/mkfs-mon.out" 2>&1 ||
    { say "the monitor could not be made"; cat "$WORK/log/mkfs-mon.out" >&2; exit 1; }
# Each daemon stays in the foreground, a child of this script with its PID file written here: a
# test runner that ends the script's process group ends them too.
ceph-mon -c "$CONF" -i a -f >"$WORK/log/mon.out" 2>&1 &
echo $! >"$WORK/run/mon.a.pid"
wait_until 300 ceph_cmd mon stat || { say "the monitor does not answer"; tail -20 "$WORK/log/mon.a.log" >&2; exit 1; }

# The OSD is put into the maps here: its own commands at start may leave before it knows the
# cluster's id, and the monitor refuses them.
OSD_UUID=$(cat /proc/sys/kernel/random/uuid)
[ "$(ceph_cmd osd new "$OSD_UUID")" = 0 ] || { say "the OSD could not be added"; exit 1; }
ceph_cmd osd crush add osd.0 1 root=default >/dev/null 2>&1 || { say "the OSD could not be placed"; exit 1; }
ceph-osd -c "$CONF" -i 0 --mkfs --osd-uuid "$OSD_UUID" >"$WORK/log/mkfs-osd.out" 2>&1 ||
    { say "the OSD could not be made"; tail -20 "$WORK/log/mkfs-osd.out" >&2; exit 1; }
ceph-osd -c "$CONF" -i 0 -f >"$WORK/log/osd.out" 2>&1 &
echo $! >"$WORK/run/osd.0.pid"
osd_up() { ceph_cmd osd dump | grep -q '^osd.0 up'; }
wait_until 600 osd_up || { say "the OSD did not come up"; tail -20 "$WORK/log/osd.0.log" >&2; exit 1; }

radosgw -c "$CONF" -n client.rgw -f >"$WORK/log/rgw.out" 2>&1 &
echo $! >"$WORK/run/client.rgw.pid"
ENDPOINT=http://127.0.0.1:$RGW_PORT
wait_until 900 curl -sf "$ENDPOINT/" ||
    { say "the gateway does not answer"; tail -20 "$WORK/log/client.rgw.log" >&2; exit 1; }

ACCESS=pl5$(head -c 8 /dev/urandom | od -An -tx1 | tr -d ' \n') SECRET=$(head -c 24 /dev/urandom | base64 | tr -d '/+=')
radosgw-admin -c "$CONF" user create --uid=pl5 --display-name=pl5 --access-key="$ACCESS" --secret="$SECRET" \
    >/dev/null 2>"$WORK/log/user.out" || { say "the user could not be made"; cat "$WORK/log/user.out" >&2; exit 1; }
BUCKET=pl5-uploads
curl -sS --fail-with-body -X PUT --aws-sigv4 "aws:amz:us-east-1:s3" --user "$ACCESS:$SECRET" \
    -H "x-amz-content-sha256: UNSIGNED-PAYLOAD" "$ENDPOINT/$BUCKET" >"$WORK/log/bucket.out" 2>&1 ||
    { say "the bucket could not be made"; cat "$WORK/log/bucket.out" >&2; exit 1; }

export PL5_S3_ENDPOINT=$ENDPOINT PL5_S3_BUCKET=$BUCKET PL5_S3_ACCESS_KEY=$ACCESS PL5_S3_SECRET_KEY=$SECRET
export PL5_S3_REGION=us-east-1
"$@"
exit $?
