#!/usr/bin/env bash
# Runs a command with the upload test servers on 127.0.0.1 and stops them afterwards, however
# the command ends:
#   the recording server (plain and TLS, self-signed certificate made for this run)
#     -> PL5_RECORD_PORT, PL5_RECORD_TLS_PORT
#   PHP's built-in server with the receiving script -> PL5_PHP_PORT
# With PL5_EXAMPLE_RECEIVERS=1 also the receivers of examples/receivers, each storing under its
# own folder below PL5_RECEIVER_DIR (made for this run unless given: node/, python/, and for PHP
# pelora5-uploads/ beside its document root site/) and refusing files above PL5_RECEIVER_MAX_FILE
# bytes (1 MB unless given) and requests above PL5_RECEIVER_MAX_REQUEST (4 MB unless given), and
# remembering at most PL5_RECEIVER_MAX_KEYS idempotency keys (8 unless given):
#     -> PL5_RECEIVER_PHP_PORT, PL5_RECEIVER_NODE_PORT, PL5_RECEIVER_PYTHON_PORT
# With PL5_KOREAN_LOCALE=1 a ko_KR.UTF-8 locale is generated into a private LOCPATH (once) and
# the command runs under it, so Wine takes code page 949 as the ANSI code page.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/pl5-servers.XXXXXX")
PIDS=()

cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

wait_for_file() {
    for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.05; done
    echo "with_servers: $2 did not start" >&2
    exit 1
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
    -keyout "$WORK/key.pem" -out "$WORK/cert.pem" >/dev/null 2>&1 || { echo "with_servers: openssl failed" >&2; exit 1; }

python3 "$HERE/record_server.py" --port-file "$WORK/record.port" --tls-port-file "$WORK/tls.port" \
    --cert "$WORK/cert.pem" --key "$WORK/key.pem" >"$WORK/record.log" 2>&1 &
PIDS+=($!)
wait_for_file "$WORK/tls.port" "the recording server"
export PL5_RECORD_PORT=$(cat "$WORK/record.port") PL5_RECORD_TLS_PORT=$(cat "$WORK/tls.port")

# PHP's built-in server takes a port of our choosing; tests running at the same time may take the
# same one first, so it is tried again on another.
start_php() {   # start_php LOG php-arguments... (without -S): sets PHP_PORT once it accepts connections
    local log=$1 port pid
    shift
    PHP_PORT=
    for _ in 1 2 3 4 5; do
        port=$(free_port)
        php -S "127.0.0.1:$port" "$@" >"$log" 2>&1 &
        pid=$!
        for _ in $(seq 100); do
            python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$pid" 2>/dev/null; then
            PIDS+=("$pid")
            PHP_PORT=$port
            return 0
        fi
    done
    echo "with_servers: php -S did not start" >&2
    exit 1
}
start_php "$WORK/php.log" -d upload_max_filesize=256M -d post_max_size=256M -d max_file_uploads=1000 \
    -d max_input_vars=10000 "$HERE/receive.php"
export PL5_PHP_PORT=$PHP_PORT

if [ "${PL5_EXAMPLE_RECEIVERS:-0}" = 1 ]; then
    RECEIVERS=$(cd "$HERE/../../examples/receivers" && pwd)
    export PL5_RECEIVER_DIR=${PL5_RECEIVER_DIR:-$WORK/received} PL5_RECEIVER_MAX_FILE=${PL5_RECEIVER_MAX_FILE:-1048576}
    export PL5_RECEIVER_MAX_REQUEST=${PL5_RECEIVER_MAX_REQUEST:-4194304} PL5_RECEIVER_MAX_KEYS=${PL5_RECEIVER_MAX_KEYS:-8}
    mkdir -p "$PL5_RECEIVER_DIR"/{node,python,site}
    # The PHP receiver runs as a site would: its folder the document root (a copy, so that its
    # default upload folder beside it, $PL5_RECEIVER_DIR/pelora5-uploads, is this run's own).
    cp "$RECEIVERS/php/receive.php" "$RECEIVERS/php/.user.ini" "$PL5_RECEIVER_DIR/site/"
    PL5_MAX_FILE=$PL5_RECEIVER_MAX_FILE PL5_MAX_REQUEST=$PL5_RECEIVER_MAX_REQUEST PL5_MAX_KEYS=$PL5_RECEIVER_MAX_KEYS start_php "$WORK/rphp.log" -d enable_post_data_reading=0 \
        -t "$PL5_RECEIVER_DIR/site"
    export PL5_RECEIVER_PHP_PORT=$PHP_PORT
    # The Node receiver's packages come from the npm registry, as its users install them: once,
    # by the first of the runs that may start at the same time (the two architectures' suites).
    (cd "$RECEIVERS/node" && flock 9 && { [ -d node_modules ] || npm ci --no-audit --no-fund >/dev/null 2>&1; }) 9<"$RECEIVERS/node" ||
        { echo "with_servers: npm ci failed" >&2; exit 1; }
    PORT=0 PL5_PORT_FILE=$WORK/rnode.port PL5_UPLOAD_DIR=$PL5_RECEIVER_DIR/node PL5_MAX_FILE=$PL5_RECEIVER_MAX_FILE \
        PL5_MAX_REQUEST=$PL5_RECEIVER_MAX_REQUEST PL5_MAX_KEYS=$PL5_RECEIVER_MAX_KEYS node "$RECEIVERS/node/receive.js" >"$WORK/rnode.log" 2>&1 &
    PIDS+=($!)
    /usr/bin/python3 "$RECEIVERS/python/receive.py" --port 0 --port-file "$WORK/rpython.port" \
        --folder "$PL5_RECEIVER_DIR/python" --max-file "$PL5_RECEIVER_MAX_FILE" \
        --max-request "$PL5_RECEIVER_MAX_REQUEST" --max-keys "$PL5_RECEIVER_MAX_KEYS" >"$WORK/rpython.log" 2>&1 &
    PIDS+=($!)
    wait_for_file "$WORK/rnode.port" "the Node receiver"
    wait_for_file "$WORK/rpython.port" "the Python receiver"
    export PL5_RECEIVER_NODE_PORT=$(cat "$WORK/rnode.port") PL5_RECEIVER_PYTHON_PORT=$(cat "$WORK/rpython.port")
fi

if [ "${PL5_KOREAN_LOCALE:-0}" = 1 ]; then
    LOCPATH=${PL5_LOCPATH:-$WORK/locale}
    if [ ! -d "$LOCPATH/ko_KR.UTF-8" ]; then
        mkdir -p "$LOCPATH"
        localedef -i ko_KR -f UTF-8 "$LOCPATH/ko_KR.UTF-8" >/dev/null 2>&1 ||
            { echo "with_servers: localedef ko_KR.UTF-8 failed" >&2; exit 1; }
    fi
    export LOCPATH LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8
fi

"$@"
exit $?
