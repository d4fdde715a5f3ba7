#!/usr/bin/env bash
# pyserial's RFC 2217 client through "snctl bridge --listen", and through
# ser2net in front of the pty bridge as the peer: bytes a second each way
# against the Modbus line limit at 115200 (port line at 115200 too), and the
# time pyserial's open takes.  Not part of the test suite.
#   bench/bench_remote.sh [BUILD_DIR] [SECONDS]
# Needs Debian's python3-serial and ser2net.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
SECONDS_PER_RUN="${2:-10}"
BAUD=115200
WORK="$(mktemp -d)"
PIDS=()

cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() {
    local i
    for i in $(seq 1 100); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "bench_remote: $1 did not appear" >&2; exit 1
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

"$BUILD/sim/snsim" --link "$WORK/node" --line-timing --baud "$BAUD" \
    --port0 none --port1 "pty:$WORK/instrument" --port2 none >"$WORK/sim.out" 2>&1 &
PIDS+=($!)
wait_for "$WORK/node"

# The served bridge.
"$BUILD/snctl/snctl" -p "$WORK/node" -m "$BAUD" bridge 1 -b "$BAUD" --listen 0 \
    >"$WORK/served.out" 2>"$WORK/served.err" &
served=$!
PIDS+=($served)
for _ in $(seq 1 100); do grep -q '^protocol:' "$WORK/served.out" && break; sleep 0.1; done
port="$(sed -n 's/^listen: 127.0.0.1:\([0-9]*\)$/\1/p' "$WORK/served.out")"
/usr/bin/python3 "$ROOT/bench/rfc2217_bench.py" "bridge --listen" "$port" "$WORK/instrument" \
    "$SECONDS_PER_RUN"
kill "$served"; wait "$served" 2>/dev/null || true

# The peer: ser2net serving the pty bridge.
"$BUILD/snctl/snctl" -p "$WORK/node" -m "$BAUD" bridge 1 -b "$BAUD" --link "$WORK/link" \
    >"$WORK/pty.out" 2>&1 &
PIDS+=($!)
wait_for "$WORK/link"
port="$(free_port)"
printf 'connection: &port1\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev(nouucplock),%s,%sn81,local\n' \
    "$port" "$WORK/link" "$BAUD" >"$WORK/ser2net.yaml"
/usr/sbin/ser2net -d -u -P "$WORK/ser2net.pid" -c "$WORK/ser2net.yaml" >"$WORK/ser2net.out" 2>&1 &
PIDS+=($!)
sleep 1
/usr/bin/python3 "$ROOT/bench/rfc2217_bench.py" "ser2net + bridge --link" "$port" \
    "$WORK/instrument" "$SECONDS_PER_RUN"
