"""Commands from the broker: carried out at the node (pymodbus reads what
its coils and registers became), confirmed by the state read back and
answered on an MQTT 5 response topic; refused, with nothing written, when
they are wrong; not taken at all by a read-only bridge."""

import time

from conftest import DISCOVERY, REPLIES, config_topics, power_topics, target

COILS = 12  # outputs, transmit enables, two unused, blink, DC always on


def node_coils(registers):
    """Coils 0-11 of the node; 7 and 8 are none, so they read False."""
    return registers.coils(0, 7) + [False, False] + registers.coils(9, 3)


def test_a_power_command_is_confirmed_by_the_state_read_back_within_a_second(
        bus_node, start_bridge, clients):
    name, registers = bus_node
    # Polls far apart: the confirmation cannot be a poll that came anyway.
    start_bridge(*target("a", name), interval="5")
    watcher = clients("snlib/a/power/+", REPLIES)
    watcher.wait_all(power_topics("a"))
    for step, (payload, coil, said) in enumerate([("ON", True, "a: power 1 on: done"),
                                                  ("ON", True, "a: power 1 on: done"),
                                                  ("off", False, "a: power 1 off: done")]):
        correlation = b"\x00power\xff%d" % step
        sent, mark = watcher.ask("snlib/a/power/1/set", payload, correlation)
        # Published again even when nothing changed: it is the confirmation.
        state = watcher.wait("snlib/a/power/1", "ON" if coil else "OFF", after=mark)
        assert state.arrived - sent < 1.0, (payload, state.arrived - sent)
        assert state.retain
        assert watcher.answer(correlation, mark) == said
        assert registers.coils(0, 4) == [False, coil, False, False]


def test_toggle_flips_the_output_as_the_node_has_it(bus_node, start_bridge, clients):
    name, registers = bus_node
    start_bridge(*target("a", name), interval="5")
    watcher = clients("snlib/a/power/+", REPLIES)
    watcher.wait_all(power_topics("a"))
    # Switched behind the bridge's back: a toggle starts from the node's
    # coil, not from what the bridge read last.
    registers.write_coil(3, True)
    for step, coil in enumerate([False, True, False]):
        correlation = b"toggle %d" % step
        sent, mark = watcher.ask("snlib/a/power/3/set", "TOGGLE", correlation)
        assert watcher.answer(correlation, mark) == "a: power 3 toggle: done"
        assert registers.coils(3) == [coil]
        state = watcher.wait("snlib/a/power/3", after=mark)
        assert state.text == ("ON" if coil else "OFF")
        assert state.arrived - sent < 1.0


def test_blink_dc_parameters_and_port_lines_reach_the_node(bus_node, start_bridge, clients):
    name, registers = bus_node
    start_bridge(*target("a", name))
    watcher = clients("snlib/a/#", REPLIES)
    watcher.wait_all(power_topics("a"))
    steps = [
        ("blink/set", "2", lambda: registers.coils(9, 2) == [True, False], None),
        ("blink/set", "1", lambda: registers.coils(9, 2) == [False, True], None),
        ("blink/set", "0", lambda: registers.coils(9, 2) == [False, False], None),
        ("dc/set", "ON", lambda: registers.coils(11) == [True], None),
        ("dc/set", "off", lambda: registers.coils(11) == [False], None),
        ("analog/3/parms/set", "1000 7", lambda: registers.words(53, 2) == [1000, 7],
         ("analog/3/parms", "1000 7")),
        ("analog/0/parms/set", "[5, 65535]", lambda: registers.words(47, 2) == [5, 65535],
         ("analog/0/parms", "5 65535")),
        ("port/1/line/set", "19200 8E2", lambda: registers.words(511, 2) == [19200 // 4, 11],
         ("port/1/line", "19200 8E2")),
        ("port/2/line/set", "115200", lambda: registers.words(767, 2) == [115200 // 4, 8],
         ("port/2/line", "115200 8N1")),
    ]
    for step, (topic, payload, at_node, published) in enumerate(steps):
        correlation = b"step %d" % step
        _, mark = watcher.ask("snlib/a/" + topic, payload, correlation)
        said = watcher.answer(correlation, mark)
        assert said.startswith("a: ") and said.endswith(": done"), (topic, payload, said)
        # Done means done at the node: read straight after the answer.
        assert at_node(), (topic, payload, said)
        if published:
            shown = watcher.wait("snlib/a/" + published[0], published[1], after=mark, timeout=5)
            assert shown.retain


def test_refused_commands_write_nothing_and_are_logged_once_a_kind(bus_node, start_bridge,
                                                                  clients):
    name, registers = bus_node
    bridge = start_bridge(*target("a", name))
    watcher = clients("snlib/#", REPLIES)
    watcher.wait_all(power_topics("a") + ["snlib/a/analog/7/parms"])
    coils, parms = node_coils(registers), registers.words(47, 16)
    assert coils == [False] * COILS
    mark = watcher.mark()
    wrong = [
        # Each kind twice, interleaved, so "first of a kind" is by kind.
        ("snlib/a/power/0/set", "MAYBE"),                 # bad payload
        ("snlib/a/power/4/set", "ON"),                    # output out of range
        ("snlib/nosuch/power/0/set", "ON"),               # unknown node
        ("snlib/a/power/0/set", "ON" + " " * 255),        # 257 bytes: too large
        ("snlib/a/blink/set", "3"),
        ("snlib/a/analog/8/parms/set", "1 2"),
        ("snlib/b/dc/set", "ON"),
        ("snlib/a/dc/set", "1" + "\n" * 300),
    ]
    for topic, payload in wrong:
        watcher.publish(topic, payload)
    _, asked = watcher.ask("snlib/a/analog/2/parms/set", "1 2 3", b"\x01wrong")
    assert watcher.answer(b"\x01wrong", asked).startswith("refused: ")

    logged = []
    deadline = time.monotonic() + 10
    while len(logged) < len(wrong) + 1 and time.monotonic() < deadline:
        logged = watcher.since(mark, "snlib/bridge/log")
        time.sleep(0.05)
    assert len(logged) == len(wrong) + 1, logged
    assert all(m.text.startswith("refused: ") and not m.retain for m in logged), logged
    assert "MAYBE" in logged[0].text and "nosuch" in logged[2].text, logged

    # Nothing reached the node, and no output was ever shown switched.
    assert node_coils(registers) == coils
    assert registers.words(47, 16) == parms
    assert not [m for t in power_topics("a") for m in watcher.since(mark, t) if m.text != "OFF"]
    time.sleep(0.3)
    assert not clients("snlib/bridge/log").since(), "the log is retained"

    # One line of the program's log for each kind, whatever came after.
    lines = bridge.refusal_lines()
    assert len(lines) == 4, lines
    for first in ["MAYBE", "'4'", "nosuch", "over 256"]:
        assert len([line for line in lines if first in line]) == 1, (first, lines)

    # And on it goes: 256 bytes are still a command.
    _, mark = watcher.ask("snlib/a/power/0/set", "ON" + " " * 254, b"\x02right")
    assert watcher.answer(b"\x02right", mark) == "a: power 0 on: done"
    assert registers.coils(0) == [True]
    watcher.wait("snlib/a/power/0", "ON", after=mark)
    assert bridge.running()


def test_a_read_only_bridge_takes_no_command(bus_node, start_bridge, clients):
    name, registers = bus_node
    start_bridge(*target("a", name), "--read-only")
    watcher = clients("snlib/#", DISCOVERY + "/#", REPLIES)
    watcher.wait_all(power_topics("a") + config_topics(4101)[4:])
    coils, parms = node_coils(registers), registers.words(47, 16)
    mark = watcher.mark()
    for topic, payload in [("power/0/set", "ON"), ("power/1/set", "TOGGLE"), ("blink/set", "2"),
                           ("dc/set", "ON"), ("analog/0/parms/set", "9 9"),
                           ("port/0/line/set", "19200")]:
        watcher.publish("snlib/a/" + topic, payload, response=REPLIES, correlation=b"ro")
    time.sleep(2)  # twice what a bridge that takes them needs to confirm them
    assert node_coils(registers) == coils
    assert registers.words(47, 16) == parms
    assert not [m for m in watcher.since(mark) if m.topic in power_topics("a") and m.text != "OFF"]
    assert not watcher.since(mark, REPLIES)
    assert not watcher.since(mark, "snlib/bridge/log")
    # Home Assistant is offered no control the bridge would not take.
    configs = [m for t, m in watcher.latest().items()
               if t.startswith(DISCOVERY + "/") and m.payload]
    assert configs
    assert not [m.topic for m in configs if "command_topic" in m.json()]
