"""Throughput and open time of pyserial's RFC 2217 client through a server.

/usr/bin/python3 rfc2217_bench.py NAME TCP_PORT INSTRUMENT_PTY SECONDS
prints one line per direction (bytes a second against the Modbus line
limit at 115200 bit/s) and one for the open time (median of 10 opens).
"""
import os
import statistics
import sys
import threading
import time
import tty

import serial

WRITE_LIMIT, READ_LIMIT = 10278, 10553  # bench/src/lineLimit.cpp at 115200


def open_client(tcp_port):
    """pyserial's client at 115200 8N1; ser2net's pty cannot take modem lines."""
    url = "rfc2217://127.0.0.1:%d?ign_set_control" % tcp_port
    return serial.serial_for_url(url, baudrate=115200, timeout=0.2)


def drain(read):
    """Reads until nothing has come for a second: the direction is empty."""
    quiet = time.monotonic()
    while time.monotonic() - quiet < 1.0:
        if read():
            quiet = time.monotonic()


WINDOW = 16 * 1024  # bytes in flight at most: enough to keep the line busy


def measure(name, write, read, seconds, limit):
    """Streams with `write`, counts what `read` gets over the steady part.

    The writer keeps at most WINDOW bytes in flight, so that nothing piles up
    in socket buffers to arrive long after time is up.
    """
    done = threading.Event()
    progress = threading.Condition()
    counts = {"sent": 0, "received": 0}

    def send():
        block = bytes(range(256))
        while not done.is_set():
            with progress:
                progress.wait_for(lambda: counts["sent"] - counts["received"] < WINDOW
                                  or done.is_set(), timeout=0.5)
                if counts["sent"] - counts["received"] >= WINDOW:
                    continue
            write(block)
            with progress:
                counts["sent"] += len(block)

    def take():
        got = read()
        with progress:
            counts["received"] += len(got)
            progress.notify()
        return got

    writer = threading.Thread(target=send, daemon=True)
    writer.start()
    fill = time.monotonic()
    while time.monotonic() - fill < 1.0:
        take()
    start, received = time.monotonic(), 0
    while time.monotonic() - start < seconds:
        received += len(take())
    rate = received / (time.monotonic() - start)
    done.set()
    writer.join()
    drain(read)
    print("%s: %s B/s = %.3f of the line limit %s B/s"
          % (name, format(round(rate), ","), rate / limit, format(limit, ",")), flush=True)


def pty_reader(fd):
    """A read of what the instrument end has, waiting at most 0.2 s."""
    import select

    def read():
        ready, _, _ = select.select([fd], [], [], 0.2)
        return os.read(fd, 65536) if ready else b""
    return read


def main():
    name, tcp_port, instrument, seconds = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4])
    far = os.open(instrument, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(far)
    client = open_client(tcp_port)
    measure(name + " transmit (client -> node)", client.write, pty_reader(far), seconds, WRITE_LIMIT)
    measure(name + " receive (node -> client)", lambda b: os.write(far, b),
            lambda: client.read(65536), seconds, READ_LIMIT)
    client.close()
    opens = []
    for _ in range(10):
        time.sleep(0.2)
        started = time.monotonic()
        port = open_client(tcp_port)
        opens.append(time.monotonic() - started)
        port.close()
    print("%s open: median %.0f ms (min %.0f, max %.0f)" % (
        name, 1000 * statistics.median(opens), 1000 * min(opens), 1000 * max(opens)), flush=True)


if __name__ == "__main__":
    main()
