#!/usr/bin/env bash
# The demo's build makes the six programs, what they link and the shared
# library Python's snlib loads, and nothing of the test suites or the
# benchmark: configured with the options ./run gives it, in a fresh tree,
# what the targets ./run names depend on, read from the generated makefiles.
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
build="$(sed -n '/^build_programs() {/,/^}/p' "$root/run" \
    | grep 'configure_and_build "$BUILD" "${PROGRAM_OPTIONS\[@\]}" --target ')" \
    || fail "build_programs does not build with PROGRAM_OPTIONS"
read -r -a targets <<<"$(grep -o -- '--target [A-Za-z_]*' <<<"$build" | cut -d' ' -f2 | tr '\n' ' ')"
[ "${#targets[@]}" -gt 0 ] || fail "build_programs names no target"

# shellcheck disable=SC2086
cmake -S "$root" -B "$work" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo $options \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure failed"; }
# What those targets build, from the dependencies make would follow
# ("DIR/CMakeFiles/A.dir/all: DIR/CMakeFiles/B.dir/all"): a dry run of make
# cannot get past the library's object files, which it never makes.
edges="$(sed -n 's|^\(.*\)\.dir/all: \(.*\)\.dir/all$|\1 \2|p' "$work/CMakeFiles/Makefile2" \
    | sed 's|[^ ]*CMakeFiles/||g')"
built=" ${targets[*]} "
queue=("${targets[@]}")
while [ "${#queue[@]}" -gt 0 ]; do
    from="${queue[0]}"
    queue=("${queue[@]:1}")
    for to in $(awk -v from="$from" '$1 == from { print $2 }' <<<"$edges"); do
        [[ "$built" == *" $to "* ]] && continue
        built+="$to "
        queue+=("$to")
    done
done
for program in snsim snterm snctl snbusd snweb snmqtt; do
    [[ "$built" == *" $program "* ]] || fail "$program is not built (${targets[*]})"
done
# What docs/python.md's build-tree set-up loads right after the demo's build.
[[ "$built" == *" snLib_shared "* ]] || fail "libsnLib.so is not built (${targets[*]})"
strays="$(tr ' ' '\n' <<<"$built" | grep -E 'test|bench|gtest|fuzz' || true)"
[ -z "$strays" ] || fail "the programs' build makes tests or the benchmark: $strays"
echo "./run programs builds snsim, snterm, snctl, snbusd, snweb, snmqtt and libsnLib.so, and no test"
