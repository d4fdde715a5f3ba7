"""A node's virtual port carried over the broker, through the emulator's
loopback, and two nodes that share one line behind the bus daemon."""

import time

from conftest import REPLIES, json_is, power_topics, target
from processes import Registers

LINES = b"".join(b"line %04d of the loopback, carried both ways\n" % n for n in range(120))


def test_bytes_sent_to_a_port_come_back_once_and_in_order(start_sim, start_bridge, clients):
    start_bridge(*target("a", start_sim()), "--port", "a/0")
    watcher = clients("snlib/a/port/+/rx", "snlib/a/port/+/line", "snlib/bridge/log")
    watcher.publish("snlib/a/port/0/line/set", "115200 8N1")
    watcher.wait("snlib/a/port/0/line", "115200 8N1")

    sent = 0
    for size in (1, 700, 2000, 33, 1500, 10000):  # ragged, some over a Modbus block
        piece = LINES[sent:sent + size]
        watcher.publish("snlib/a/port/0/tx", piece, qos=2)
        sent += len(piece)
    assert sent == len(LINES) > 4096

    def received():
        return b"".join(m.payload for m in watcher.since(topic="snlib/a/port/0/rx"))
    deadline = time.monotonic() + 20
    while len(received()) < len(LINES) and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(1)  # nothing more comes after them
    assert received() == LINES
    assert all(m.qos == 2 and not m.retain for m in watcher.since(topic="snlib/a/port/0/rx"))
    assert not watcher.since(topic="snlib/bridge/log")

    # A port not given with --port takes nothing, and says so.
    watcher.publish("snlib/a/port/1/tx", b"not for this port")
    refusal = watcher.wait("snlib/bridge/log")
    assert "port/1" in refusal.text and "--port a/1" in refusal.text, refusal.text
    time.sleep(0.5)
    assert not watcher.since(topic="snlib/a/port/1/rx")


def test_two_nodes_on_one_bus_daemon_are_told_apart(start_sim, start_bus, start_bridge, clients):
    bus = start_bus(start_sim("--slave", "1,2"))
    first, second = Registers(bus, slave=1), Registers(bus, slave=2)
    try:
        start_bridge(*target("a", bus, 1), *target("b", bus, 2))
        watcher = clients("snlib/#", REPLIES)
        state = watcher.wait_all(power_topics("a") + power_topics("b")
                                 + ["snlib/a/info", "snlib/b/info"])
        assert state["snlib/a/info"].json()["serial_number"] == first.word(15) == 4101
        assert state["snlib/b/info"].json()["serial_number"] == second.word(15) == 4102
        watcher.wait("snlib/bridge/nodes", json_is({"a": 4101, "b": 4102}))

        _, mark = watcher.ask("snlib/b/power/2/set", "ON", b"b2")
        assert watcher.answer(b"b2", mark) == "b: power 2 on: done"
        assert (first.coils(2), second.coils(2)) == ([False], [True])
        watcher.wait("snlib/b/power/2", "ON", after=mark)
        _, mark = watcher.ask("snlib/a/power/0/set", "ON", b"a0")
        assert watcher.answer(b"a0", mark) == "a: power 0 on: done"
        assert (first.coils(0, 4), second.coils(0, 4)) == ([True, False, False, False],
                                                           [False, False, True, False])
        time.sleep(0.5)  # a few polls: each node's topics show its own outputs
        state = watcher.latest()
        assert [state[t].text for t in power_topics("a")] == ["ON", "OFF", "OFF", "OFF"]
        assert [state[t].text for t in power_topics("b")] == ["OFF", "OFF", "ON", "OFF"]
    finally:
        first.close()
        second.close()
