"""snlib.Node against the emulator: every node function against the
registers pymodbus reads through snbusd, and the failures."""

import errno
import socket
import threading

import pytest
import serial

import snlib


def test_identity_and_configuration_are_the_nodes_registers(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node:
        assert node.serial_number == registers.word(15)
        assert node.software_revision == registers.word(16)
        high, low = registers.words(17, 2)
        assert node.board_config == (high << 16) | low
        assert node.hardware_config == registers.word(20)
        assert node.power_vector == registers.word(19)
        assert node.device_timeout == registers.word(21) == 200
        node.device_timeout = 345
        assert registers.word(21) == 345
        registers.write_word(21, 77)
        assert node.device_timeout == 77


def test_power_outputs_switch_the_coils(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node:
        node.set_power(3, True)
        node.set_power(0, False)
        assert registers.coils(0, 4) == [False, False, False, True]
        assert [node.power(output) for output in range(4)] == [False, False, False, True]
        node.set_power(3, 0)
        assert registers.coils(3) == [False]
        assert node.power(3) is False


def test_analog_channels_and_parameters(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node:
        # The emulator's channels follow slow waves of their own phase: a
        # reading agrees with one taken right beside it, and with no other
        # channel's.
        before = registers.words(31, 8)
        values = node.analogs()
        single = [node.analog(channel) for channel in range(8)]
        after = registers.words(31, 8)
        for channel in range(8):
            low = min(before[channel], after[channel]) - 60
            high = max(before[channel], after[channel]) + 60
            assert low <= values[channel] <= high, (channel, before, values, after)
            assert low <= single[channel] <= high, (channel, before, single, after)
        node.set_analog_params(5, 0xBEEF, 7)
        assert registers.words(47 + 2 * 5, 2) == [0xBEEF, 7]
        assert node.analog_params(5) == (0xBEEF, 7)
        assert node.analog_params(4) == tuple(registers.words(47 + 2 * 4, 2))


def test_configuration_coils(bus_node):
    name, registers = bus_node
    with snlib.Node(name) as node:
        node.blink(1)
        assert registers.coils(9, 2) == [False, True]
        node.blink(2)
        assert registers.coils(9, 2) == [True, False]
        node.blink(0)
        assert registers.coils(9, 2) == [False, False]
        node.set_dc_always_on(True)
        assert registers.coils(11) == [True]
        node.set_analog_params(0, 9, 9)
        node.device_timeout = 500
        node.reset_config_mode()  # puts 21, the parameters and coil 11 back
        assert registers.word(21) != 500
        assert registers.coils(11) == [False]


def test_link_timeouts_are_seconds(start_sim):
    with snlib.Node(start_sim()) as node:
        assert node.response_timeout == pytest.approx(0.6)
        assert node.byte_timeout == pytest.approx(0.05)
        node.response_timeout = 1.25
        node.byte_timeout = 0
        assert node.response_timeout == pytest.approx(1.25)
        assert node.byte_timeout == 0
        for bad in (0, -1, float("nan"), "soon"):
            with pytest.raises(ValueError):
                node.response_timeout = bad


def test_bad_arguments_raise_value_error_before_any_traffic(start_sim):
    with snlib.Node(start_sim()) as node:
        cases = [(node.analog, 8), (node.analog, -1), (node.analog_params, 8), (node.power, 4),
                 (node.blink, 3), (node.port, 3), (node.analog, "1"), (node.analog, 1.0)]
        for function, argument in cases:
            with pytest.raises(ValueError) as raised:
                function(argument)
            assert raised.value.errno == errno.EINVAL
        with pytest.raises(ValueError):
            node.set_analog_params(0, 65536, 0)
        with pytest.raises(ValueError):
            node.device_timeout = 19
    for arguments in [("",), ("/dev/null", 0), ("/dev/null", 248), ("/dev/null", 1, 12345)]:
        with pytest.raises(ValueError):
            snlib.Node(*arguments)


def test_failures_carry_the_errno_and_snctls_words(start_sim, start_bus, tmp_path):
    device = start_sim()
    with snlib.Node(device, slave=9) as stranger:
        stranger.response_timeout = 0.2
        with pytest.raises(snlib.NodeError) as raised:
            stranger.serial_number
    assert raised.value.errno == errno.ETIMEDOUT
    assert str(raised.value) == "cannot read serial number: no node answers at slave 9"
    with pytest.raises(OSError) as raised:
        snlib.Node(str(tmp_path / "nothing"))
    assert raised.value.errno == errno.ENOENT
    assert "cannot open node 1 on %s at 115200 bit/s: no such device" % (tmp_path / "nothing") \
        in str(raised.value)

    node = snlib.Node(device)
    node.close()
    node.close()
    with pytest.raises(snlib.NodeError) as raised:
        node.set_power(1, True)
    assert raised.value.errno == errno.EINVAL
    assert str(raised.value) == "cannot switch power output 1 on: the node is closed"


def test_wrong_slave_behind_the_bus_daemon(start_sim, start_bus):
    name = start_bus(start_sim(), "--timeout", "200")
    with snlib.Node(name, slave=5) as node:
        with pytest.raises(snlib.NodeError) as raised:
            node.analogs()
        assert raised.value.errno == snlib.errors.EMBXGTAR
        assert str(raised.value) == "cannot read analog channels: no node answers at slave 5"
        with pytest.raises(snlib.NodeError) as raised:
            node.port(1, timeout=0)
        assert str(raised.value) == "cannot open virtual port 1: no node answers at slave 5"


def test_a_device_the_daemon_holds_names_the_way_through_it(start_sim, start_bus):
    """The words snctl gives for the same mistakes, from the Node and the URL."""
    device = start_sim()
    name = start_bus(device)
    held = "%s is in use by PID " % device
    for opening in (lambda: snlib.Node(device),
                    lambda: serial.serial_for_url("sn://%s?port=0" % device)):
        with pytest.raises(snlib.NodeError) as raised:
            opening()
        assert raised.value.errno == errno.EBUSY
        assert str(raised.value).startswith(held)
        assert str(raised.value).endswith(" (snbusd); reach the bus through " + name)
    with snlib.Node(name) as node:  # the way it names leads to the node
        assert len(node.analogs()) == 8

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    free = "127.0.0.1:%d" % listener.getsockname()[1]
    listener.close()
    with pytest.raises(snlib.NodeError) as raised:
        snlib.Node("tcp:" + free)
    assert raised.value.errno == errno.ECONNREFUSED
    assert str(raised.value) == "nothing listens at %s \u2014 is snbusd running?" % free


def test_threads_share_a_node_and_close_waits_for_calls(start_sim):
    node = snlib.Node(start_sim())
    failures = []

    def worker(output):
        try:
            for _ in range(20):
                node.set_power(output, True)
                assert node.power(output)
                node.analogs()
        except snlib.ClosedError:
            pass
        except Exception as error:  # pragma: no cover - reported below
            failures.append(error)

    threads = [threading.Thread(target=worker, args=(o,)) for o in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads[:2]:
        thread.join()
    node.close()
    for thread in threads[2:]:
        thread.join()
    assert failures == []
    with snlib.Node(node.device) as again:
        assert again.power_vector is not None


def test_the_library_table_of_16_nodes_is_given_back(start_sim):
    device = start_sim("--slave", ",".join(str(slave) for slave in range(1, 18)))
    held = [snlib.Node(device, slave=slave) for slave in range(1, 17)]
    with pytest.raises(snlib.NodeError) as raised:
        snlib.Node(device, slave=17)
    assert raised.value.errno == errno.ENOMEM
    for node in held:
        node.close()
    for _ in range(3):
        for slave in range(1, 18):
            snlib.Node(device, slave=slave)  # dropped at once, closed by the collector
    with snlib.Node(device, slave=17) as node:
        assert node.serial_number >= 0
