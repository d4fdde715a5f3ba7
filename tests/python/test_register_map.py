"""docs/register-map.md and docs/home-assistant-modbus.yaml against the
emulator behind snbusd: every address the page lists answers its read
through pymodbus, no other does, each means what the page says as the
library (snlib) sees it, and the Home Assistant entities read and switch
what the page says they do."""

import os
import re
import subprocess

import pytest
import yaml

import snlib
from conftest import Registers

DOCS = os.path.join(os.path.dirname(__file__), "..", "..", "docs")
ROW = re.compile(r"^\| (\d+)(?:–(\d+))? \| (coil|holding) \| ([\d, ]+) \| ([^|]+?) \| ([^|]+?) \|$")


class Row:
    """One line of the page's tables: its addresses, kind, functions, name."""

    def __init__(self, match, port_block):
        first = int(match.group(1))
        last = int(match.group(2) or first)
        self.addresses = list(range(first, last + 1))
        self.kind = match.group(3)
        self.functions = {int(f) for f in match.group(4).split(",")}
        self.name = match.group(5)
        self.port_block = port_block


def documented():
    """The rows of the page; those of the port section flagged, since their
    addresses are port 0's and repeat for ports 1 and 2."""
    rows = []
    port_block = False
    with open(os.path.join(DOCS, "register-map.md")) as page:
        for line in page:
            if line.startswith("## "):
                port_block = "virtual ports" in line
            match = ROW.match(line.rstrip("\n"))
            if match:
                rows.append(Row(match, port_block))
    return rows


def row_named(rows, name):
    """The row whose name starts with `name`: the page's name, not ours."""
    found = [row for row in rows if row.name.startswith(name)]
    assert len(found) == 1, "%r: %d rows" % (name, len(found))
    return found[0]


def read(registers, kind, address, count=1, slave=1):
    """The answer to a read of `kind` (the page's and Home Assistant's
    input_type) at `address`."""
    if kind == "coil":
        return registers.client.read_coils(address, count, slave=slave)
    return registers.client.read_holding_registers(address, count, slave=slave)


@pytest.fixture
def node(bus_node):
    """(snlib.Node, Registers) on the same emulated node through snbusd."""
    name, registers = bus_node
    with snlib.Node(name) as opened:
        yield opened, registers


def test_every_listed_address_answers_its_read_and_no_other_does(node):
    _, registers = node
    rows = documented()
    assert len(rows) >= 20, "the page's tables did not parse"
    listed = {"coil": set(), "holding": set()}
    for row in rows:
        assert row.functions & {1, 3} == ({1} if row.kind == "coil" else {3}), row.name
        for port in range(3) if row.port_block else [0]:
            for address in row.addresses:
                listed[row.kind].add(address + 256 * port)
                answer = read(registers, row.kind, address + 256 * port)
                assert not answer.isError(), (row.name, port, address, answer)
    # The page says any other address is refused: the gaps between and
    # around what it lists.
    for kind, top in (("coil", 16), ("holding", 1030)):
        for address in range(top):
            if address not in listed[kind]:
                answer = read(registers, kind, address)
                assert answer.isError(), (kind, address)
                assert answer.exception_code == 2, (kind, address, answer)


def test_each_address_means_what_the_page_says(node):
    lib, registers = node
    rows = documented()

    def at(name):
        addresses = row_named(rows, name).addresses
        assert len(addresses) == 1, name
        return addresses[0]

    assert registers.word(at("serial number")) == lib.serial_number
    assert registers.word(at("software revision")) == lib.software_revision
    board = row_named(rows, "board configuration").addresses
    assert len(board) == 2
    high, low = registers.words(board[0], 2)
    assert (high << 16) | low == lib.board_config
    assert registers.word(at("hardware configuration")) == lib.hardware_config

    outputs = row_named(rows, "power output")
    assert len(outputs.addresses) == 4
    for output in range(4):
        lib.set_power(output, output in (0, 3))
    assert registers.coils(outputs.addresses[0], 4) == [True, False, False, True]
    assert registers.word(at("power vector")) == 0b1001 == lib.power_vector
    assert not registers.client.write_coil(outputs.addresses[1], True, slave=1).isError()
    assert lib.power(1)

    registers.write_word(at("device timeout"), 345)
    assert lib.device_timeout == 345

    analog = row_named(rows, "analog value").addresses
    assert len(analog) == 8
    values = registers.words(analog[0], 8)
    assert all(0 <= value <= 4095 for value in values), values
    parameters = row_named(rows, "analog parameter words")
    assert len(parameters.addresses) == 16
    for channel in range(8):
        lib.set_analog_params(channel, 100 + channel, 200 + channel)
    assert registers.words(parameters.addresses[0], 16) == [
        word for channel in range(8) for word in (100 + channel, 200 + channel)]

    blink = row_named(rows, "blink pattern").addresses
    assert len(blink) == 2
    for pattern, coils in ((1, [False, True]), (2, [True, False]), (0, [False, False])):
        lib.blink(pattern)
        assert registers.coils(blink[0], 2) == coils, pattern
    lib.set_dc_always_on(True)
    assert registers.coils(at("DC always on")) == [True]

    enable = row_named(rows, "transmit enable").addresses
    assert len(enable) == 3
    assert registers.coils(enable[0], 3) == [False, False, False]
    port = lib.port(1, baudrate=19200, parity="E", stopbits=2)
    assert registers.coils(enable[0], 3) == [False, True, False]
    assert registers.word(256 + at("line speed")) == 19200 // 4
    assert registers.word(256 + at("frame format")) == 10 + 1
    port.close()
    assert registers.coils(enable[0], 3) == [False, False, False]

    assert not registers.client.write_coil(at("configuration reset"), True, slave=1).isError()
    assert lib.device_timeout != 345
    assert lib.analog_params(0) != (100, 200)
    assert registers.coils(at("DC always on")) == [False]


def test_the_home_assistant_example_reads_and_switches_what_the_page_says(node):
    lib, registers = node
    rows = documented()
    by_address = {(row.kind, address): row for row in rows if not row.port_block
                  for address in row.addresses}
    with open(os.path.join(DOCS, "home-assistant-modbus.yaml")) as example:
        hubs = yaml.safe_load(example)["modbus"]
    assert len(hubs) == 1
    hub = hubs[0]
    # The hub is snbusd where the README's quick start has it.
    assert (hub["type"], hub["host"], hub["port"]) == ("tcp", "127.0.0.1", 1502)

    switched = []
    for switch in hub["switches"]:
        slave, address = switch["slave"], switch["address"]
        assert switch["write_type"] == "coil", switch["name"]
        verify = switch["verify"]
        assert by_address[(verify["input_type"], verify["address"])].name.startswith(
            "power output"), switch["name"]
        output = address - row_named(rows, "power output").addresses[0]
        for on in (True, False):
            assert not registers.client.write_coil(address, on, slave=slave).isError()
            assert lib.power(output) == on, switch["name"]
            answer = read(registers, verify["input_type"], verify["address"], slave=slave)
            assert not answer.isError() and answer.bits[0] == on, switch["name"]
        switched.append(output)
    assert sorted(switched) == [0, 1, 2, 3]

    library = {"serial number": lambda: lib.serial_number,
               "software revision": lambda: lib.software_revision}
    meanings = []
    for sensor in hub["sensors"]:
        assert sensor["data_type"] == "uint16", sensor["name"]
        row = by_address[(sensor["input_type"], sensor["address"])]
        answer = read(registers, sensor["input_type"], sensor["address"], slave=sensor["slave"])
        assert not answer.isError(), (sensor["name"], answer)
        value = answer.registers[0]
        if row.name in library:
            assert value == library[row.name](), sensor["name"]
        else:
            assert row.name.startswith("analog value"), sensor["name"]
            assert 0 <= value <= 4095, sensor["name"]
        meanings.append((row.name, sensor["address"] - row.addresses[0]))
    assert sorted(meanings) == sorted(
        [("serial number", 0), ("software revision", 0)]
        + [("analog value 0–7", c) for c in range(8)])


def test_the_pages_mbpoll_lines_read_and_write_what_they_say(node, bus_node):
    lib, registers = node
    port = bus_node[0].rsplit(":", 1)[1]
    with open(os.path.join(DOCS, "register-map.md")) as page:
        blocks = re.findall(r"```sh\n(.*?)```", page.read(), re.S)
    lines = [line.split("#", 1) for block in blocks for line in block.splitlines()
             if line.startswith("mbpoll ")]
    assert len(lines) == 4
    for command, comment in lines:
        argv = command.split()
        assert argv[argv.index("-p") + 1] == "1502", argv
        argv[argv.index("-p") + 1] = port
        result = subprocess.run(argv, capture_output=True, text=True, timeout=30)
        assert result.returncode == 0, result.stdout + result.stderr
        start = int(argv[argv.index("-r") + 1])
        answered = dict((int(a), int(v)) for a, v in re.findall(r"^\[(\d+)\]:\s+(-?\d+)$",
                                                                result.stdout, re.M))
        if argv[-1] == "127.0.0.1":  # a read: each value what pymodbus reads there
            count = int(argv[argv.index("-c") + 1]) if "-c" in argv else 1
            assert sorted(answered) == list(range(start, start + count)), result.stdout
            coils = argv[argv.index("-t") + 1] == "0"
            for address, value in answered.items():
                if coils:
                    assert value == int(registers.coils(address)[0]), address
                elif not 31 <= address <= 38:  # analog values move between reads
                    assert value == registers.word(address), address
        else:  # a write: the output its comment names switched as it says
            output, state = re.search(r"power output (\d) (on|off)", comment).groups()
            assert lib.power(int(output)) == (state == "on"), comment
