#!/usr/bin/env bash
# Checks a built .deb: lintian reports no error, it holds every file it
# should, and unpacked into a temporary root its programs work together
# (snmqtt on a mosquitto of the test's own, with the example of its options
# file) and user programs build against it through pkg-config and
# find_package.  With
# PYTHON_DEB, python3-snlib as well: lintian, contents, and snlib and sn://
# reaching the emulated node.
#   packageTest.sh DEB INSTALL_TEST [PYTHON_DEB]
set -euo pipefail

deb="$1"
install_test="$2"
pydeb="${3:-}"
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
for file in /usr/bin/snterm /usr/bin/snsim /usr/bin/snctl /usr/bin/snbusd /usr/bin/snweb \
    /usr/bin/snmqtt \
    "$lib/libsnLib.a" "$lib/libsnLib.so" "$lib/libsnLib.so.0" "$lib/libsnLib.so.0.1.0" \
    /usr/include/snLib.h /usr/include/snLimits.h "$lib/pkgconfig/snLib.pc" \
    "$lib/cmake/snLib/snLibConfig.cmake" "$lib/cmake/snLib/snLibConfigVersion.cmake" \
    "$lib/cmake/snLib/snLibTargets.cmake" \
    /usr/share/man/man1/snterm.1.gz /usr/share/man/man1/snsim.1.gz \
    /usr/share/man/man1/snctl.1.gz /usr/share/man/man1/snbusd.1.gz /usr/share/man/man1/snweb.1.gz \
    /usr/share/man/man1/snmqtt.1.gz \
    /usr/share/bash-completion/completions/snweb /usr/share/bash-completion/completions/snmqtt \
    /usr/share/bash-completion/completions/snterm /usr/share/bash-completion/completions/snsim \
    /usr/share/bash-completion/completions/snctl /usr/share/bash-completion/completions/snbusd \
    /lib/systemd/system/snbusd@.service /lib/systemd/system/snctl-bridge@.service \
    /lib/systemd/system/snmqtt.service /lib/systemd/system/snmqtt@.service /etc/snmqtt/snmqtt.conf \
    /usr/share/doc/snlib/copyright; do
    grep -qxF "$file" "$work/contents" || fail "$file is not in the package"
done
# An upgrade keeps the options a user wrote.
dpkg-deb -I "$deb" conffiles | grep -qxF /etc/snmqtt/snmqtt.conf \
    || fail "/etc/snmqtt/snmqtt.conf is not a conffile"
grep -qF libmosquitto1 <<<"$(dpkg-deb -f "$deb" Depends)" \
    || fail "snlib does not depend on libmosquitto1: $(dpkg-deb -f "$deb" Depends)"

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
# snmqtt with the options of the example in its options file, the broker
# and the daemon where the test has them, on a mosquitto of the test's own:
# the example as a user uncomments it, and a command through the broker
# that reaches the node.  A port taken by another suite meanwhile is
# given up for another.
for _ in 1 2 3; do
    broker="$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
    printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser %s\n' "$broker" "$(id -un)" >"$work/mosquitto.conf"
    /usr/sbin/mosquitto -c "$work/mosquitto.conf" 2>"$work/mosquitto.log" &
    brokerpid=$!
    for _ in $(seq 100); do
        grep -q ' running$' "$work/mosquitto.log" && break
        kill -0 "$brokerpid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$brokerpid" 2>/dev/null && break
done
pids+=("$brokerpid")
grep -q ' running$' "$work/mosquitto.log" || fail "mosquitto did not start: $(cat "$work/mosquitto.log")"
example="$(sed -n '/^#SNMQTT_OPTIONS=--broker mqtt:/,/[^\\]$/p' "$root/etc/snmqtt/snmqtt.conf" \
    | sed 's/^#//; s/\\$//' | tr '\n' ' ')"
[ -n "$example" ] || fail "no example in /etc/snmqtt/snmqtt.conf"
example="${example#SNMQTT_OPTIONS=}"
example="${example//:1883/:$broker}"
example="${example//:1502/:$port}"
# Split at blanks as systemd splits $SNMQTT_OPTIONS: no quotes, no globs.
read -r -a words <<<"$example"
"$root/usr/bin/snmqtt" "${words[@]}" 2>"$work/snmqtt.log" &
pids+=($!)
for _ in $(seq 100); do grep -q 'connected to' "$work/snmqtt.log" && break; sleep 0.1; done
grep -q "connected to mqtt://127.0.0.1:$broker" "$work/snmqtt.log" \
    || fail "snmqtt with the options file's example: $(cat "$work/snmqtt.log")"
mosquitto_sub -h 127.0.0.1 -p "$broker" -t snlib/rack-1/info -C 1 -W 10 >/dev/null \
    || fail "snmqtt published no identity of rack-1: $(cat "$work/snmqtt.log")"
answer="$(mosquitto_rr -h 127.0.0.1 -p "$broker" -t snlib/rack-1/power/2/set -e reply/test -m ON -W 10)" \
    || fail "no answer to a command through the broker: $(cat "$work/snmqtt.log")"
[ "$answer" = "rack-1: power 2 on: done" ] || fail "snmqtt answered '$answer'"
[ "$("$root/usr/bin/snctl" -p "tcp:127.0.0.1:$port" power 2)" = $'output: 2\nstate: on' ] \
    || fail "power 2 switched through snmqtt is not on at the node"

# One version: the programs', the man pages', the package's, pkg-config's.
version="$(dpkg-deb -f "$deb" Version)"
for program in snterm snsim snctl snbusd snweb snmqtt; do
    [ "$("$root/usr/bin/$program" --version)" = "$program (snLib) $version" ] \
        || fail "$program --version"
    zcat "$root/usr/share/man/man1/$program.1.gz" | head -1 | grep -qF "\"snLib $version\"" \
        || fail "the version in $program(1)"
done
grep -qx "Version: $version" "$root$lib/pkgconfig/snLib.pc" || fail "the version in snLib.pc"

# python3-snlib: the package, then snlib from the unpacked root through the
# daemon, checked against what snctl reads.
python_dir=/usr/lib/python3/dist-packages
# Prints what a port 0 loopback gives back for "ping" through sn://, with
# snlib imported or not.
echo_through_url() {
    /usr/bin/python3 -c "import sys, serial
${1:-}
with serial.serial_for_url(sys.argv[1], 115200, timeout=3) as port:
    port.write(b'ping')
    print(port.read(4).decode())" "sn://127.0.0.1:$port?port=0"
}
if [ -n "$pydeb" ]; then
    echo "package test: python3-snlib: lintian"
    lintian --fail-on error --tag-display-limit 0 "$pydeb"
    echo "package test: python3-snlib: contents and dependencies"
    dpkg-deb -c "$pydeb" | awk '{print $6}' | sed 's|^\./|/|' > "$work/pycontents"
    for file in "$python_dir/snlib/__init__.py" "$python_dir/snlib/node.py" \
        "$python_dir/snlib/port.py" "$python_dir/snlib/urlhandler/protocol_sn.py" \
        "$python_dir/serial/urlhandler/protocol_sn.py" /usr/share/doc/python3-snlib/copyright; do
        grep -qxF "$file" "$work/pycontents" || fail "$file is not in python3-snlib"
    done
    # debhelper compresses a long page.
    grep -qxE '/usr/share/doc/python3-snlib/python\.md(\.gz)?' "$work/pycontents" \
        || fail "docs/python.md is not in python3-snlib"
    depends="$(dpkg-deb -f "$pydeb" Depends)"
    for needed in "snlib (>= $version)" python3-serial; do
        grep -qF "$needed" <<<"$depends" || fail "python3-snlib does not depend on $needed: $depends"
    done
    echo "package test: python3-snlib: unpacked, through the daemon"
    dpkg -x "$pydeb" "$root"
    expected="$("$root/usr/bin/snctl" -p "tcp:127.0.0.1:$port" --json info \
        | /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["serial_number"])')"
    got="$(PYTHONPATH="$root$python_dir" /usr/bin/python3 -c \
        "import snlib; print(snlib.Node('tcp:127.0.0.1:$port').serial_number)")"
    [ "$got" = "$expected" ] || fail "snlib read serial number '$got', snctl '$expected'"
    [ "$(PYTHONPATH="$root$python_dir" echo_through_url "import snlib")" = ping ] \
        || fail "sn:// with snlib imported"
fi

# Installed for real where that is ours to do (root, no snlib installed
# already): dpkg takes it, and systemd accepts the daemon's unit.
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W snlib >/dev/null 2>&1; then
    echo "package test: installed, the systemd unit"
    dpkg -i "$deb" >/dev/null
    if [ -n "$pydeb" ]; then
        echo "package test: installed, python3-snlib and pyserial finding sn:// by itself"
        dpkg -i "$pydeb" >/dev/null
        python_echo="$(env -u LD_LIBRARY_PATH bash -c "$(declare -f echo_through_url); port=$port; echo_through_url" 2>&1 || true)"
        dpkg -r python3-snlib >/dev/null
        [ "$python_echo" = ping ] || { dpkg -r snlib >/dev/null; fail "installed sn://: $python_echo"; }
    fi
    # Each unit as an instance would be: verify has nothing to say, and the
    # hardening keeps the exposure low.
    verified=()
    for unit in snbusd@ttyS0 snctl-bridge@ttyS0-port1 snmqtt snmqtt@site-b; do
        template="${unit%%@*}"
        [ "$template" = "$unit" ] || template+="@"
        cp "/lib/systemd/system/$template.service" "$work/$unit.service"
        verify="$(systemd-analyze verify "$work/$unit.service" 2>&1 || true)"
        exposure="$(systemd-analyze security --offline=yes "$work/$unit.service" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')"
        verified+=("$unit" "$verify" "$exposure")
    done
    dpkg -r snlib >/dev/null
    for ((i = 0; i < ${#verified[@]}; i += 3)); do
        unit="${verified[i]}" verify="${verified[i + 1]}" exposure="${verified[i + 2]}"
        [ -z "$verify" ] || fail "systemd-analyze verify $unit: $verify"
        echo "package test: exposure level of $unit.service: $exposure"
        awk -v e="$exposure" 'BEGIN { exit !(e != "" && e < 2.0) }' || fail "$unit: exposure $exposure"
    done
fi

echo "package test: user programs built against it"
SN_INSTALLED_PREFIX="$root/usr" SN_INSTALLED_LIBDIR="lib/$multiarch" "$install_test" \
    --gtest_filter='*PkgConfig*:*FindPackage*:*InstalledSnctl*'
echo "package test: passed"
