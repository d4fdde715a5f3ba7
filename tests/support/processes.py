"""The programs the Python suites start, shared by them: a Process with its
output in a file, the emulator and the bus daemon as fixtures, and
pymodbus through the daemon as the independent look at a node's registers.

ctest sets SN_SNSIM and SN_SNBUSD to the programs of the build tree; by
hand, the defaults find them from the source tree's top.  A suite's
conftest imports the fixtures, which is how pytest finds them there.
"""

import os
import re
import signal
import subprocess
import time

import pytest
from pymodbus.client import ModbusTcpClient

SNSIM = os.environ.get("SN_SNSIM", "build/sim/snsim")
SNBUSD = os.environ.get("SN_SNBUSD", "build/snbusd/snbusd")


class Process:
    """A program started by a test, its output in a file (so a chatty one
    never blocks on a full pipe), ready once a line of it matches."""

    def __init__(self, argv, ready, log, timeout=10.0):
        self.argv = list(argv)
        self.log = log
        with open(log, "w") as out:
            self.process = subprocess.Popen(self.argv, stdout=out, stderr=subprocess.STDOUT)
        self.match = self.wait_for(ready, timeout)
        if not self.match:
            self.stop()
            raise RuntimeError("%s did not start: %s" % (argv[0], self.output()))

    def output(self):
        """Everything the program wrote so far."""
        with open(self.log, errors="replace") as text:
            return text.read()

    def wait_for(self, pattern, timeout=10.0):
        """The first match of `pattern` in the output, waiting up to
        `timeout` seconds; None when it never came or the program ended."""
        deadline = time.monotonic() + timeout
        while True:
            match = re.search(pattern, self.output(), re.MULTILINE)
            if match or time.monotonic() > deadline:
                return match
            if self.process.poll() is not None:
                return re.search(pattern, self.output(), re.MULTILINE)
            time.sleep(0.02)

    def running(self):
        """True while the program has not ended."""
        return self.process.poll() is None

    def stop(self, how=signal.SIGTERM, timeout=5.0):
        """Sends `how` and waits for the end (killing it past `timeout`);
        gives the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(how)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        return self.process.returncode


class Emulators:
    """The emulated nodes of one test, each on a link in the test's
    directory; stopped and started again on the same link, a node is the
    same device to whoever opened it by its link."""

    def __init__(self, directory):
        self.directory = directory
        self.running = {}

    def __call__(self, *args, link="node"):
        """Starts snsim on `link`; gives its device."""
        path = str(self.directory / link)
        sim = Process([SNSIM, "--link", path, *args], r"^snsim ready on (\S+)",
                      str(self.directory / (link + ".log")))
        self.running.setdefault(link, []).append(sim)
        return sim.match.group(1)

    def stop(self, link="node"):
        """Stops the emulators on `link`."""
        for sim in self.running.pop(link, []):
            sim.stop()

    def stop_all(self):
        """Stops every emulator of the test."""
        for link in list(self.running):
            self.stop(link)


@pytest.fixture
def start_sim(tmp_path):
    """Starts snsim on a link in the test's directory; gives its device."""
    emulators = Emulators(tmp_path)
    yield emulators
    emulators.stop_all()


@pytest.fixture
def start_bus(tmp_path):
    """Starts snbusd on a device; gives its tcp:127.0.0.1:PORT name."""
    started = []

    def start(device, *args):
        log = str(tmp_path / ("snbusd%d.log" % len(started)))
        bus = Process([SNBUSD, "-p", device, "--listen", "127.0.0.1:0", *args],
                      r"listening on 127\.0\.0\.1:(\d+)", log)
        started.append(bus)
        return "tcp:127.0.0.1:" + bus.match.group(1)

    yield start
    for bus in started:
        bus.stop()


class Registers:
    """The node's coils and registers read and written by pymodbus through
    snbusd: not our library, so it checks what our programs did."""

    def __init__(self, tcp_name, slave=1):
        host, port = tcp_name[len("tcp:"):].rsplit(":", 1)
        self.client = ModbusTcpClient(host, port=int(port), timeout=3)
        assert self.client.connect()
        self.slave = slave

    def words(self, address, count=1):
        answer = self.client.read_holding_registers(address, count, slave=self.slave)
        assert not answer.isError(), answer
        return list(answer.registers)

    def word(self, address):
        return self.words(address)[0]

    def coils(self, address, count=1):
        answer = self.client.read_coils(address, count, slave=self.slave)
        assert not answer.isError(), answer
        return list(answer.bits[:count])

    def write_word(self, address, value):
        assert not self.client.write_register(address, value, slave=self.slave).isError()

    def write_coil(self, address, value):
        assert not self.client.write_coil(address, value, slave=self.slave).isError()

    def close(self):
        self.client.close()


@pytest.fixture
def bus_node(start_sim, start_bus):
    """(tcp name, Registers) of an emulated node behind snbusd, port 0 a loopback."""
    name = start_bus(start_sim())
    registers = Registers(name)
    yield name, registers
    registers.close()
