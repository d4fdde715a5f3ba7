"""Fixtures of the Python suite: the emulator and the bus daemon as
processes, and pymodbus through the daemon as the independent look at the
node's registers.

ctest sets SN_SNSIM and SN_SNBUSD to the programs of the build tree, and
LD_LIBRARY_PATH and PYTHONPATH so that snlib runs from the tree.
"""

import os
import re
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
        self.log = log
        with open(log, "w") as out:
            self.process = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(log) as text:
                self.match = re.search(ready, text.read(), re.MULTILINE)
            if self.match or self.process.poll() is not None:
                break
            time.sleep(0.02)
        if not self.match:
            self.stop()
            with open(log) as text:
                raise RuntimeError("%s did not start: %s" % (argv[0], text.read()))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


@pytest.fixture
def start_sim(tmp_path):
    """Starts snsim on a link in the test's directory; gives its device."""
    started = []

    def start(*args, link="node"):
        path = str(tmp_path / link)
        sim = Process([SNSIM, "--link", path, *args], r"^snsim ready on (\S+)",
                      str(tmp_path / (link + ".log")))
        started.append(sim)
        return sim.match.group(1)

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def start_bus(tmp_path):
    """Starts snbusd on a device; gives its tcp:127.0.0.1:PORT name."""
    started = []

    def start(device, *args):
        bus = Process([SNBUSD, "-p", device, "--listen", "127.0.0.1:0", *args],
                      r"listening on 127\.0\.0\.1:(\d+)", str(tmp_path / "snbusd.log"))
        started.append(bus)
        return "tcp:127.0.0.1:" + bus.match.group(1)

    yield start
    for bus in started:
        bus.stop()


class Registers:
    """The node's coils and registers read and written by pymodbus through
    snbusd: not our library, so it checks what our calls did."""

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

    def close(self):
        self.client.close()


@pytest.fixture
def bus_node(start_sim, start_bus):
    """(tcp name, Registers) of an emulated node behind snbusd, port 0 a loopback."""
    name = start_bus(start_sim())
    registers = Registers(name)
    yield name, registers
    registers.close()
