"""pyserial's RFC 2217 client against a served virtual port, for the tests.

Run with Debian's interpreter: /usr/bin/python3 rfc2217Client.py MODE PORT.
It prints one line per step ("ok STEP" or "FAIL STEP: why"), flushed, so the
test driving it can look at the node while a step holds its state, and ends
with status 0 only when every step passed.

Modes:
  scenario  open at 9600 8N1, 4 KiB of all byte values through a loopback,
            115200 even 2 (held 2 s), a break of 1 s, both purges, a second
            client refused while connected and let in right after, opening
            at 19200 even 2.
  echo      open with ?ign_set_control, 4 KiB through a loopback, close:
            the same script any RFC 2217 server must pass.
  numbered  PORT LINES BAUD OUT STALL: open at BAUD, send LINES numbered
            lines ("000123\\n") while reading the far end's until their last
            line came or nothing came for STALL seconds; what came is left in
            the file OUT for the test to check.
"""
import socket
import sys
import threading
import time

import serial

ALL_BYTES = bytes(range(256)) * 16


def say(line):
    """One result line, flushed at once for the watching test."""
    print(line, flush=True)


def check(step, condition, why=""):
    """Reports a step; exits with status 1 on the first failure."""
    if condition:
        say("ok " + step)
        return
    say("FAIL %s: %s" % (step, why))
    sys.exit(1)


def echo_through(port, step):
    """Sends all byte values and expects them back whole and in order."""
    port.reset_input_buffer()
    port.write(ALL_BYTES)
    got = port.read(len(ALL_BYTES))
    check(step, got == ALL_BYTES, "%d bytes back, first difference at %d"
          % (len(got), next((i for i, (a, b) in enumerate(zip(got, ALL_BYTES)) if a != b),
                            len(got))))


def second_client_refused(tcp_port):
    """A plain connection while the first is open: closed without a word."""
    other = socket.create_connection(("127.0.0.1", tcp_port), timeout=3)
    try:
        other.settimeout(3)
        return other.recv(64) == b""
    except (ConnectionResetError, socket.timeout):
        return False
    finally:
        other.close()


def scenario(tcp_port):
    """The whole road of a client that sets the line."""
    url = "rfc2217://127.0.0.1:%d?timeout=3" % tcp_port
    port = serial.serial_for_url(url, baudrate=9600, timeout=5)
    say("ok open")
    echo_through(port, "echo")
    # Each setter sends speed, size, parity and stop size again: three bursts.
    port.apply_settings({"baudrate": 115200, "parity": serial.PARITY_EVEN,
                         "stopbits": serial.STOPBITS_TWO})
    say("ok line")
    time.sleep(2)
    say("ok break-starts")
    port.send_break(1.0)
    say("ok break-ended")
    port.reset_input_buffer()
    port.reset_output_buffer()
    say("ok purged")
    check("second-refused", second_client_refused(tcp_port), "the second client was served")
    port.close()
    started = time.monotonic()
    # Opened with a new line: one burst that changes three settings.
    port = serial.serial_for_url(url, baudrate=19200, parity=serial.PARITY_EVEN,
                                 stopbits=serial.STOPBITS_TWO, timeout=5)
    check("reopened", time.monotonic() - started < 3, "took %.1f s" % (time.monotonic() - started))
    echo_through(port, "echo-after-reopen")
    time.sleep(1.5)
    port.close()
    say("ok closed")


def echo(tcp_port):
    """Bytes only, as through a server that cannot set the line."""
    url = "rfc2217://127.0.0.1:%d?timeout=3&ign_set_control" % tcp_port
    port = serial.serial_for_url(url, baudrate=115200, timeout=5)
    say("ok open")
    echo_through(port, "echo")
    port.baudrate = 38400
    say("ok line")
    time.sleep(1)
    port.close()
    say("ok closed")


def numbered(tcp_port, lines, baud, out_path, stall):
    """A numbered stream both ways at once, as a terminal program's user
    would send a file while a listing comes back."""
    url = "rfc2217://127.0.0.1:%d?timeout=3" % tcp_port
    port = serial.serial_for_url(url, baudrate=baud, timeout=0.2)
    say("ok open")
    stream = b"".join(b"%06d\n" % i for i in range(lines))
    writer = threading.Thread(target=port.write, args=(stream,))
    writer.start()
    got = bytearray()
    last = time.monotonic()
    # The far end starts once the test has seen the line set: the first
    # byte may take longer than a stall.
    while not got.endswith(stream[-7:]) and time.monotonic() - last < (stall if got else 30):
        chunk = port.read(4096)
        if chunk:
            got += chunk
            last = time.monotonic()
    writer.join()
    with open(out_path, "wb") as out:
        out.write(got)
    port.close()
    say("ok numbered")


if __name__ == "__main__":
    MODES = {"scenario": scenario, "echo": echo}
    if len(sys.argv) == 7 and sys.argv[1] == "numbered":
        numbered(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5],
                 float(sys.argv[6]))
    elif len(sys.argv) != 3 or sys.argv[1] not in MODES:
        sys.exit("usage: rfc2217Client.py scenario|echo PORT, "
                 "or numbered PORT LINES BAUD OUT STALL")
    else:
        MODES[sys.argv[1]](int(sys.argv[2]))
