#!/usr/bin/env bash
# Checks a built .deb: lintian reports no error, it holds every file it
# should, and unpacked into a temporary root its programs work together and
# user programs build against it through pkg-config and find_package.
#   packageTest.sh DEB INSTALL_TEST
set -euo pipefail

deb="$1"
install_test="$2"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
work="$(mktemp -d)"
pids=()
cleanup() {
    [ "${#pids[@]}" -gt 0 ] && kill "${pids[@]}" 2>/dev/null
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package test: $*" >&2; exit 1; }

echo "package test: lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "package test: contents"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/contents"
lib="/usr/lib/$multiarch"
for file in /usr/bin/snterm /usr/bin/snsim /usr/bin/snctl /usr/bin/snbusd \
    "$lib/libsnLib.a" "$lib/libsnLib.so" "$lib/libsnLib.so.0" "$lib/libsnLib.so.0.1.0" \
    /usr/include/snLib.h /usr/include/snLimits.h "$lib/pkgconfig/snLib.pc" \
    "$lib/cmake/snLib/snLibConfig.cmake" "$lib/cmake/snLib/snLibConfigVersion.cmake" \
    "$lib/cmake/snLib/snLibTargets.cmake" \
    /usr/share/man/man1/snterm.1.gz /usr/share/man/man1/snsim.1.gz \
    /usr/share/man/man1/snctl.1.gz /usr/share/man/man1/snbusd.1.gz \
    /usr/share/bash-completion/completions/snterm /usr/share/bash-completion/completions/snsim \
    /usr/share/bash-completion/completions/snctl /usr/share/bash-completion/completions/snbusd \
    /lib/systemd/system/snbusd@.service /usr/share/doc/snlib/copyright; do
    grep -qxF "$file" "$work/contents" || fail "$file is not in the package"
done

echo "package test: unpacked, the programs together"
root="$work/root"
dpkg -x "$deb" "$root"
readelf -d "$root$lib/libsnLib.so.0.1.0" | grep -q 'SONAME.*\[libsnLib.so.0\]' || fail "no SONAME"
export LD_LIBRARY_PATH="$root$lib"
"$root/usr/bin/snsim" --link "$work/node" >"$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/node" ] && break; sleep 0.1; done
"$root/usr/bin/snbusd" -p "$work/node" --listen 127.0.0.1:0 2>"$work/bus.log" &
pids+=($!)
for _ in $(seq 100); do grep -q 'listening on' "$work/bus.log" && break; sleep 0.1; done
port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/bus.log")"
[ -n "$port" ] || fail "snbusd did not listen: $(cat "$work/bus.log")"
[ "$("$root/usr/bin/snctl" -p "tcp:127.0.0.1:$port" power 3 on)" = $'output: 3\nstate: on' ] \
    || fail "snctl through snbusd"
timeout 3 "$root/usr/bin/snterm" -p "tcp:127.0.0.1:$port" -t 1 </dev/null >"$work/term.out" || true
grep -q 'Using serial port 1 at 9600,N81' "$work/term.out" || fail "snterm: $(cat "$work/term.out")"
# One version: the programs', the man pages', the package's, pkg-config's.
version="$(dpkg-deb -f "$deb" Version)"
for program in snterm snsim snctl snbusd; do
    [ "$("$root/usr/bin/$program" --version)" = "$program (snLib) $version" ] \
        || fail "$program --version"
    zcat "$root/usr/share/man/man1/$program.1.gz" | head -1 | grep -qF "\"snLib $version\"" \
        || fail "the version in $program(1)"
done
grep -qx "Version: $version" "$root$lib/pkgconfig/snLib.pc" || fail "the version in snLib.pc"

# Installed for real where that is ours to do (root, no snlib installed
# already): dpkg takes it, and systemd accepts the daemon's unit.
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W snlib >/dev/null 2>&1; then
    echo "package test: installed, the systemd unit"
    dpkg -i "$deb" >/dev/null
    unit="$work/snbusd@ttyS0.service"
    cp /lib/systemd/system/snbusd@.service "$unit"
    verify="$(systemd-analyze verify "$unit" 2>&1 || true)"
    exposure="$(systemd-analyze security --offline=yes "$unit" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')"
    dpkg -r snlib >/dev/null
    [ -z "$verify" ] || fail "systemd-analyze verify: $verify"
    echo "package test: exposure level of snbusd@.service: $exposure"
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e < 2.0) }' || fail "exposure $exposure"
fi

echo "package test: user programs built against it"
SN_INSTALLED_PREFIX="$root/usr" SN_INSTALLED_LIBDIR="lib/$multiarch" "$install_test" \
    --gtest_filter='*PkgConfig*:*FindPackage*:*InstalledSnctl*'
echo "package test: passed"
