"""Port throughput from Python (snlib) against the C library's own, on the
same emulated node with Modbus line timing at 115200, in one run.

    bench/bench_python.py BUILD_DIR

Write: one write() of the whole buffer against one snSerWrite, the port at
230400 so the Modbus line is the limit.  Read: an instrument sends a
buffer at the port's 57600 and the reader takes it, timed from the first
byte to the last (snlib's polling read against snSerRead in a loop).
Needs snlib importable and libsnLib.so.0 in the linker's path.
"""

import os
import subprocess
import sys
import tempfile
import threading
import time
import tty

import snlib

MODBUS_BAUD = 115200
GOAL = 0.95
RUNS = [("write", 230400, 16384), ("read", 57600, 8192)]


def pattern(size):
    return bytes((i * 7 + i // 256) & 0xFF for i in range(size))


class Emulator:
    """snsim with line timing, port 1 wired to a pty this script plays the
    instrument on."""

    def __init__(self, build, work):
        self.device = os.path.join(work, "node")
        instrument = os.path.join(work, "instrument")
        self.log = open(os.path.join(work, "sim.log"), "w")
        self.process = subprocess.Popen(
            [os.path.join(build, "sim", "snsim"), "--link", self.device, "--line-timing",
             "--baud", str(MODBUS_BAUD), "--port0", "none", "--port1", "pty:" + instrument,
             "--port2", "none"], stdout=self.log, stderr=subprocess.STDOUT)
        for _ in range(100):
            if os.path.exists(self.device) and os.path.exists(instrument):
                break
            time.sleep(0.1)
        self.instrument = os.open(instrument, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.instrument)

    def drain(self, size, seconds=30.0):
        """What the instrument receives, up to `size` bytes; from a thread."""
        received = bytearray()
        os.set_blocking(self.instrument, False)
        deadline = time.monotonic() + seconds
        while len(received) < size and time.monotonic() < deadline:
            try:
                received += os.read(self.instrument, 4096)
            except BlockingIOError:
                time.sleep(0.005)
        return bytes(received)

    def send_later(self, data, delay=0.3):
        def send():
            time.sleep(delay)
            os.set_blocking(self.instrument, True)
            os.write(self.instrument, data)
        threading.Thread(target=send, daemon=True).start()

    def stop(self):
        os.close(self.instrument)
        self.process.terminate()
        self.process.wait()
        self.log.close()


def python_run(sim, direction, speed, size):
    """(bytes, seconds) through snlib."""
    data = pattern(size)
    with snlib.Node(sim.device, speed=MODBUS_BAUD) as node, node.port(1, baudrate=speed) as port:
        port.reset_input_buffer()
        if direction == "write":
            started = time.monotonic()
            sent = port.write(data)
            return sent, time.monotonic() - started
        sim.send_later(data)
        port.timeout = 5
        first = port.read(1)
        started = time.monotonic()
        port.timeout = 30
        rest = port.read(size - 1)
        got = first + rest
        if got != data[:len(got)]:
            raise SystemExit("bench_python: the read brought other bytes than were sent")
        return len(got), time.monotonic() - started


def c_run(build, sim, direction, speed, size):
    """(bytes, seconds) through snbench_port, the C library from C."""
    if direction == "read":
        sim.send_later(pattern(size), delay=0.5)
    out = subprocess.run([os.path.join(build, "bench", "snbench_port"), sim.device, "1",
                          str(speed), direction, str(size)], capture_output=True, text=True,
                         timeout=120)
    got, seconds = out.stdout.split()
    return int(got), float(seconds)


def measure(build, sim, direction, speed, size):
    """One row: the C figure and Python's, and their ratio."""
    figures = {}
    for name, run in (("C", lambda: c_run(build, sim, direction, speed, size)),
                      ("Python", lambda: python_run(sim, direction, speed, size))):
        drained = []
        if direction == "write":
            drainer = threading.Thread(target=lambda: drained.append(sim.drain(size)))
            drainer.start()
        got, seconds = run()
        if direction == "write":
            drainer.join()
            if drained[0] != pattern(size)[:len(drained[0])] or len(drained[0]) != size:
                raise SystemExit("bench_python: %s %s: the instrument got %d other bytes"
                                 % (name, direction, len(drained[0])))
        if got != size:
            raise SystemExit("bench_python: %s %s moved %d of %d bytes" % (name, direction, got, size))
        figures[name] = got / seconds
    return figures["C"], figures["Python"]


def main(build):
    with tempfile.TemporaryDirectory() as work:
        sim = Emulator(build, work)
        try:
            print("Port throughput, Python (snlib) against C (snLib), Modbus line timing at %d:"
                  % MODBUS_BAUD)
            for direction, speed, size in RUNS:
                c_rate, python_rate = measure(build, sim, direction, speed, size)
                ratio = python_rate / c_rate
                print("  %-5s %5d B, port at %6d: C %7.0f B/s, Python %7.0f B/s, ratio %.3f "
                      "(goal >= %.2f)%s" % (direction, size, speed, c_rate, python_rate, ratio,
                                           GOAL, "" if ratio >= GOAL else "  BELOW GOAL"))
        finally:
            sim.stop()


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build")
