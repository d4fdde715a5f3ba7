#!/usr/bin/env bash
# The example program echoes a line through port 0 of the emulator in loopback.
# Usage: loopbackEcho.sh SNSIM EXAMPLE
set -euo pipefail
snsim="$1" example="$2"
out="$(mktemp)"
"$snsim" --port0 loopback >"$out" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 100); do grep -q '^snsim ready on ' "$out" && break; sleep 0.1; done
device="$(sed -n 's/^snsim ready on //p' "$out")"
[ -n "$device" ] || { echo "emulator did not start"; exit 1; }
line='every byte: ~!@#$%^&*()_+ 0123456789 odd'
got="$("$example" "$device" "$line")"
if [ "$got" != "$line" ]; then
    echo "expected: $line"
    echo "got:      $got"
    exit 1
fi
echo "echoed: $got"
