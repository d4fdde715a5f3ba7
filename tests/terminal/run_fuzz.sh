#!/bin/sh
# Builds snterm's option-parsing fuzzer with clang in BUILD_DIR and runs it
# for at most SECONDS seconds.  The corpus is kept in BUILD_DIR between runs.
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
cmake --build "$build_dir" --target snterm_fuzz_options -j2

corpus="$build_dir/fuzz-corpus-options"
mkdir -p "$corpus"
exec "$build_dir/tests/terminal/snterm_fuzz_options" \
    -max_total_time="$seconds" -timeout=10 "$corpus"
