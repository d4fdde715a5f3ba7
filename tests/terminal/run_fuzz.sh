#!/bin/sh
# Builds every fuzz target with clang in BUILD_DIR and runs each for at most
# SECONDS seconds, from its seed corpus (tests/fuzz/corpus/NAME, committed)
# and what earlier runs found (kept in BUILD_DIR).
# Usage: run_fuzz.sh BUILD_DIR SECONDS
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build_dir=$1
seconds=$2
case $seconds in
    ''|*[!0-9]*) echo "SECONDS must be a whole number: $seconds" >&2; exit 2 ;;
esac

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"

cmake -S "$source_dir" -B "$build_dir" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$instrument" -DCMAKE_CXX_FLAGS="$instrument" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DSN_BUILD_TESTS=ON -DSN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j2 --target snterm_fuzz_options sn_fuzz_mbap sn_fuzz_rtu_request \
    sn_fuzz_hostile_node snctl_fuzz_probe_request snctl_fuzz_telnet sn_fuzz_browser_request \
    sn_fuzz_mqtt_command sn_fuzz_sparkplug_command

# name, executable, seed corpus
run() {
    found="$build_dir/fuzz-corpus-$1"
    mkdir -p "$found"
    echo "fuzz: $1 for $seconds s"
    "$2" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "$found" $3
}
run options "$build_dir/tests/terminal/snterm_fuzz_options" ""
run mbap "$build_dir/tests/fuzz/sn_fuzz_mbap" "$source_dir/tests/fuzz/corpus/mbap"
run rtu-request "$build_dir/tests/fuzz/sn_fuzz_rtu_request" "$source_dir/tests/fuzz/corpus/rtuRequest"
run hostile-node "$build_dir/tests/fuzz/sn_fuzz_hostile_node" "$source_dir/tests/fuzz/corpus/hostileNode"
run probe-request "$build_dir/tests/snctl/snctl_fuzz_probe_request" ""
run telnet "$build_dir/tests/snctl/snctl_fuzz_telnet" "$source_dir/tests/fuzz/corpus/telnet"
run browser-request "$build_dir/tests/fuzz/sn_fuzz_browser_request" "$source_dir/tests/fuzz/corpus/browserRequest"
run mqtt-command "$build_dir/tests/fuzz/sn_fuzz_mqtt_command" "$source_dir/tests/fuzz/corpus/mqttCommand"
run sparkplug-command "$build_dir/tests/fuzz/sn_fuzz_sparkplug_command" "$source_dir/tests/fuzz/corpus/sparkplugCommand"
