"""snlib.Port and sn:// against the emulator: bulk transfer through a
loopback, the line reaching the node's registers, pyserial's semantics."""

import threading
import time

import pytest
import serial

import snlib
from snlib.urlhandler.protocol_sn import parse_url

FASTEST = 4 * 0xFFFF + 3
SLICE = 480
PATTERN = bytes(range(256)) * 256  # 64 KiB, every byte value


def round_trip(port, data):
    """Sends `data` through a loopback a slice at a time and gives what came
    back.  A slice fits the node's receive buffer, so no byte is lost
    however late the machine lets the reader run."""
    port.timeout = 5
    received = bytearray()
    for start in range(0, len(data), SLICE):
        piece = data[start:start + SLICE]
        assert port.write(piece) == len(piece)
        received += port.read(len(piece))
        if len(received) != start + len(piece):
            break
    return bytes(received)


def test_64_kib_round_trip_through_node_port(start_sim):
    with snlib.Node(start_sim()) as node, node.port(0, baudrate=FASTEST) as port:
        assert round_trip(port, PATTERN) == PATTERN
        assert port.read(1) == b""  # nothing more, after the timeout


def test_64_kib_round_trip_through_a_url_via_the_bus_daemon(start_sim, start_bus):
    address = start_bus(start_sim())[len("tcp:"):]
    with serial.serial_for_url("sn://%s?slave=1&port=0" % address, baudrate=FASTEST) as port:
        assert isinstance(port, snlib.Port)
        assert round_trip(port, PATTERN) == PATTERN


def test_url_to_a_serial_device(start_sim):
    device = start_sim()
    url = "sn://%s?port=0&speed=115200" % device
    with serial.serial_for_url(url, 115200, timeout=2) as port:
        assert port.baudrate == 115200
        port.write(b"\x00abc\xff\r\n")
        assert port.readline() == b"\x00abc\xff\r\n"


def test_a_line_set_from_python_reaches_the_nodes_registers(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node:
        port = node.port(1, baudrate=19200, parity=serial.PARITY_EVEN,
                         stopbits=serial.STOPBITS_TWO)
        assert registers.words(511, 2) == [19200 // 4, 11]
        assert registers.coils(5) == [True]  # transmit enable
        port.baudrate = 115200
        port.parity = serial.PARITY_ODD
        port.stopbits = serial.STOPBITS_ONE
        assert registers.words(511, 2) == [115200 // 4, 12]
        port.close()
        assert registers.coils(5) == [False]
    url = "sn://%s?port=2" % name[len("tcp:"):]
    with serial.serial_for_url(url, baudrate=9600):
        assert registers.words(767, 2) == [9600 // 4, 8]


def test_unsupported_settings_raise_value_error_and_leave_the_line(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node, node.port(1, baudrate=38400) as port:
        for setting, value in [("bytesize", serial.SEVENBITS), ("parity", serial.PARITY_MARK),
                               ("stopbits", serial.STOPBITS_ONE_POINT_FIVE), ("baudrate", 3),
                               ("baudrate", FASTEST + 1), ("rtscts", True), ("xonxoff", True)]:
            kept = getattr(port, setting)
            with pytest.raises(ValueError):
                setattr(port, setting, value)
            setattr(port, setting, kept)
        assert registers.words(511, 2) == [38400 // 4, 8]
        with pytest.raises(ValueError):
            port.send_break(70)
        with pytest.raises(ValueError):
            node.port(1, bytesize=serial.SEVENBITS)


def test_read_honours_timeouts_and_in_waiting_sees_the_node(start_sim):
    with snlib.Node(start_sim()) as node, node.port(0, baudrate=FASTEST, timeout=0) as port:
        assert port.read(10) == b""
        port.timeout = 0.3
        started = time.monotonic()
        assert port.read(10) == b""
        assert time.monotonic() - started >= 0.25
        port.write(b"0123456789")
        deadline = time.monotonic() + 3
        while port.in_waiting < 10 and time.monotonic() < deadline:
            time.sleep(0.01)
        assert port.in_waiting == 10
        assert port.read(4) == b"0123"
        assert port.read(port.in_waiting) == b"456789"
        port.write(b"dropped")
        time.sleep(0.1)
        port.reset_input_buffer()
        assert port.read(7) == b""
        port.send_break(0.01)
        port.flush()
        port.reset_output_buffer()


def test_cancel_read_ends_a_blocking_read(start_sim):
    with snlib.Node(start_sim()) as node, node.port(0, timeout=None) as port:
        threading.Timer(0.2, port.cancel_read).start()
        assert port.read(5) == b""


def test_closed_ports_and_nodes(start_sim):
    node = snlib.Node(start_sim())
    port = node.port(0)
    node.close()
    assert not port.is_open
    with pytest.raises(serial.PortNotOpenError):
        port.read(1)
    with pytest.raises(serial.PortNotOpenError):
        port.write(b"x")
    with pytest.raises(snlib.NodeError):
        node.port(1)


@pytest.mark.parametrize("url, expected", [
    ("sn:///dev/ttyUSB0?slave=3&port=1&speed=9600", ("/dev/ttyUSB0", 3, 1, 9600)),
    ("sn://127.0.0.1:1502?slave=3&port=1", ("tcp:127.0.0.1:1502", 3, 1, 115200)),
    ("sn://[::1]:1502", ("tcp:[::1]:1502", 1, 0, 115200)),
])
def test_urls(url, expected):
    assert parse_url(url) == expected


@pytest.mark.parametrize("url", [
    "sn://tmp/node", "sn://localhost", "sn:///dev/x?port=3", "sn:///dev/x?slave=0",
    "sn:///dev/x?colour=red", "sn:///dev/x?slave=one", "sn://host:1502/extra",
])
def test_malformed_urls_are_refused(url):
    with pytest.raises(ValueError):
        parse_url(url)
    with pytest.raises(serial.SerialException):
        serial.serial_for_url(url)


def test_an_overrun_shows_in_the_error_flags_until_cleared(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node, node.port(0, baudrate=FASTEST, timeout=0) as port:
        assert port.error_flags == registers.word(259) == 0
        # The node takes all of it only once more than its receive buffer
        # holds has looped round: an overrun before write() returns.
        port.write(bytes(2000))
        assert port.error_flags & 0x2
        assert port.error_flags == registers.word(259)
        port.reset_output_buffer()  # nothing more looping round to overrun again
        port.clear_error_flags(0x2)
        assert port.error_flags & 0x2 == 0 == registers.word(259) & 0x2
        with pytest.raises(ValueError):
            port.clear_error_flags(32)  # would flush the receive side instead
