#!/usr/bin/env bash
# The demo's build makes the four programs and what they link, and nothing
# of the test suites or the benchmark: configured with the options ./run
# gives it, in a fresh tree, its build steps listed (make -n) but not run.
# Usage: programsTarget.sh SOURCE_DIR
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }

options="$(sed -n 's/^PROGRAM_OPTIONS=(\(.*\))$/\1/p' "$root/run")"
[ -n "$options" ] || fail "./run has no PROGRAM_OPTIONS"
sed -n '/^demo() {/,/^}/p' "$root/run" | grep -q '^    build_programs$' \
    || fail "./run demo does not start with build_programs"
sed -n '/^build_programs() {/,/^}/p' "$root/run" \
    | grep -q 'configure_and_build "$BUILD" "${PROGRAM_OPTIONS\[@\]}" --target programs' \
    || fail "build_programs does not build the programs target with PROGRAM_OPTIONS"

# shellcheck disable=SC2086
cmake -S "$root" -B "$work" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo $options \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure failed"; }
# A dry run cannot link what it did not make: -k lists every step anyway.
steps="$(cmake --build "$work" --target programs -- -n -k 2>/dev/null || true)"
for program in snsim snterm snctl snbusd; do
    grep -q "CMakeFiles/$program.dir/src/main.cpp.o" <<<"$steps" || fail "$program is not built"
done
if grep -E '/(tests|bench)/|gtest|benchmark' <<<"$steps" | head -5 | grep .; then
    fail "the programs target builds tests or the benchmark (above)"
fi
echo "the programs target builds snsim, snterm, snctl and snbusd and no test"
