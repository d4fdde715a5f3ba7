#!/usr/bin/env bash
# Throughput of "snctl bridge" against the emulator with Modbus line timing,
# and the bridge's CPU use while idle.  Not part of the test suite: numbers
# depend on the machine.
#   bench/bench_bridge.sh [BUILD_DIR] [SECONDS]
# Needs python3 (standard library only) for the serial ends.
set -euo pipefail

BUILD="${1:-$(cd "$(dirname "$0")/.." && pwd)/build}"
SECONDS_PER_RUN="${2:-10}"
MODBUS_BAUD=115200
PORT_BAUD=230400   # faster than Modbus can carry, so Modbus is the limit
WORK="$(mktemp -d)"
SIM_PID="" BRIDGE_PID=""

cleanup() {
    [ -n "$BRIDGE_PID" ] && kill "$BRIDGE_PID" 2>/dev/null && wait "$BRIDGE_PID" 2>/dev/null || true
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() {
    local i
    for i in $(seq 1 100); do [ -e "$1" ] && return 0; sleep 0.1; done
    echo "bench_bridge: $1 did not appear" >&2; exit 1
}

"$BUILD/sim/snsim" --link "$WORK/node" --line-timing --baud "$MODBUS_BAUD" \
    --port0 none --port1 "pty:$WORK/instrument" --port2 none >"$WORK/sim.out" 2>&1 &
SIM_PID=$!
wait_for "$WORK/node"
"$BUILD/snctl/snctl" -p "$WORK/node" -m "$MODBUS_BAUD" bridge 1 -b "$PORT_BAUD" \
    --link "$WORK/link" >"$WORK/bridge.out" 2>&1 &
BRIDGE_PID=$!
wait_for "$WORK/link"

cpu_ticks() { awk '{print $14 + $15}' "/proc/$BRIDGE_PID/stat"; }

# Idle: nothing to relay, the bridge only polls the node.
sleep 1
before=$(cpu_ticks)
sleep "$SECONDS_PER_RUN"
after=$(cpu_ticks)
idle_cpu=$(awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$SECONDS_PER_RUN" \
    'BEGIN { printf "%.2f", 100 * t / hz / s }')

# Streams bytes from one end to the other for a while and reports the rate
# at the receiving end over the steady part.
python3 - "$WORK/link" "$WORK/instrument" "$SECONDS_PER_RUN" <<'PY'
import os, sys, termios, time, threading, tty

link, instrument, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])

def open_raw(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    return fd

def drain(fd):
    """Reads until nothing has come for a second: the direction is empty."""
    os.set_blocking(fd, False)
    quiet = time.monotonic()
    while time.monotonic() - quiet < 1.0:
        try:
            if os.read(fd, 65536):
                quiet = time.monotonic()
        except BlockingIOError:
            time.sleep(0.05)
    os.set_blocking(fd, True)

def measure(name, sender, receiver, limit):
    done = threading.Event()
    def send():
        # Small writes, so little is left in the terminal once time is up.
        block = bytes(range(256))
        while not done.is_set():
            os.write(sender, block)
    writer = threading.Thread(target=send, daemon=True)
    writer.start()
    # Let the pipeline fill, reading all the while: bytes left waiting in the
    # receiving terminal would otherwise be counted as if they came in time.
    fill = time.monotonic()
    while time.monotonic() - fill < 1.0:
        os.read(receiver, 65536)
    start, received = time.monotonic(), 0
    while time.monotonic() - start < seconds:
        received += len(os.read(receiver, 65536))
    rate = received / (time.monotonic() - start)
    done.set()
    drain(receiver)
    print(f"{name}: {rate:,.0f} B/s = {100 * rate / limit:.1f}% of the line limit {limit:,} B/s")

client, far = open_raw(link), open_raw(instrument)
measure("transmit (pty -> node)", client, far, 10278)
measure("receive (node -> pty)", far, client, 10553)
PY
echo "idle CPU of the bridge: ${idle_cpu}% of one core"
