"""snmqtt as a Sparkplug B edge node, seen by a host through mosquitto and
a decoder that is not snmqtt's own (sparkplug-payload, from npm): the
births with every metric, the deaths with their bdSeq (the will after a
kill, the edge node's own after a stop), bdSeq kept across restarts, seq
unbroken past its wrap and through a rebirth, DCMD writes read back at
once and refused whole when they cannot be done, and a node that goes
silent and comes back."""

import re
import signal
import subprocess
import time

import pytest

from conftest import SNMQTT, power_topics, target
from processes import Registers
from sparkplug_host import Decoder, Host

GROUP, EDGE = "G", "E"
SPARKPLUG = ["--sparkplug", "%s/%s" % (GROUP, EDGE)]

POWER = ["Power/%d" % o for o in range(4)]
ANALOG = ["Analog/%d" % c for c in range(8)]
PROPERTIES = (["Properties/Serial Number", "Properties/Software Revision",
               "Properties/Board Config", "Properties/Hardware Config",
               "Properties/Device Timeout"]
              + ["Properties/Analog %d Parameters/%d" % (c, w) for c in range(8) for w in range(2)])


@pytest.fixture(scope="module")
def decoder():
    started = Decoder()
    yield started
    started.close()


@pytest.fixture
def host(clients, decoder):
    return Host(clients("spBv1.0/#"), decoder, GROUP, EDGE)


@pytest.fixture
def state_dir(tmp_path):
    return ["--state-dir", str(tmp_path / "state")]


def now_ms():
    return time.time() * 1000


def bdseq(message):
    return message.metric("bdSeq")["value"]


def check_nbirth(birth, expected_bdseq):
    assert (birth.qos, birth.retain, birth.seq) == (0, False, 0)
    assert abs(birth.payload["timestamp"] - now_ms()) < 10000
    assert [m["name"] for m in birth.metrics] == ["bdSeq", "Node Control/Rebirth"]
    assert [m["type"] for m in birth.metrics] == ["UInt64", "Boolean"]
    assert bdseq(birth) == expected_bdseq
    assert birth.metric("Node Control/Rebirth")["value"] is False
    assert all("alias" in m and abs(m["timestamp"] - now_ms()) < 10000 for m in birth.metrics)


def check_seq(messages):
    """Each message's seq one more than the last, modulo 256, an NBIRTH's 0."""
    for previous, m in zip(messages, messages[1:]):
        expected = 0 if m.type == "NBIRTH" else (previous.seq + 1) % 256
        assert m.seq == expected, (previous, m)


def check_dbirth(birth, registers):
    """Every metric named, aliased, typed and timed, the values the node's
    registers hold as pymodbus reads them."""
    assert (birth.qos, birth.retain) == (0, False)
    assert [m["name"] for m in birth.metrics] == POWER + ANALOG + PROPERTIES
    for m in birth.metrics:
        assert "alias" in m and abs(m["timestamp"] - now_ms()) < 10000, m
        expected = ("Boolean" if m["name"].startswith("Power/") else
                    "UInt32" if m["name"] == "Properties/Board Config" else "UInt16")
        assert m["type"] == expected, m
    serial, revision, board_high, board_low = registers.words(15, 4)
    assert birth.metric("Properties/Serial Number")["value"] == serial
    assert birth.metric("Properties/Software Revision")["value"] == revision
    assert birth.metric("Properties/Board Config")["value"] == (board_high << 16) | board_low
    assert birth.metric("Properties/Hardware Config")["value"] == registers.word(20)
    assert birth.metric("Properties/Device Timeout")["value"] == registers.word(21)
    words = registers.words(47, 16)
    assert [birth.metric(name)["value"] for name in PROPERTIES[5:]] == words
    assert [birth.metric(name)["value"] for name in POWER] == registers.coils(0, 4)


def test_births_carry_every_metric_and_each_death_the_bdseq_of_its_birth(
        bus_node, broker, start_bridge, host, clients, state_dir):
    name, registers = bus_node
    plain = clients("snlib/bridge/state", "snlib/a/availability")
    bridge = start_bridge(*target("a", name), *SPARKPLUG, *state_dir)
    nbirth = host.wait("NBIRTH")
    check_nbirth(nbirth, 0)  # a new state directory: the first is 0
    dbirth = host.wait("DBIRTH", "a")
    assert dbirth.seq == 1
    check_dbirth(dbirth, registers)
    aliases = [m["alias"] for m in nbirth.metrics + dbirth.metrics]
    assert len(set(aliases)) == len(aliases)
    # The plain topics beside it, on a connection of their own.
    plain.wait("snlib/bridge/state", "online")
    plain.wait("snlib/a/availability", "online")
    log = broker.process.output()
    assert re.search(r" as snmqtt-e2e-sparkplug ", log) and re.search(r" as snmqtt-e2e ", log)

    # Each connection its own number: the broker restarted, a new birth.
    broker.restart()
    host = Host(clients("spBv1.0/#"), host.decoder, GROUP, EDGE)
    check_nbirth(host.wait("NBIRTH", timeout=20), 1)
    host.wait("DBIRTH", "a")

    # Killed: the broker sends the will, the NDEATH of that birth.
    mark = host.mark()
    assert bridge.stop(signal.SIGKILL) == -signal.SIGKILL
    death = host.wait("NDEATH", after=mark)
    assert (death.qos, death.retain, death.seq) == (1, False, None)
    assert [m["name"] for m in death.metrics] == ["bdSeq"] and bdseq(death) == 1

    # Started again: the next number, kept across the restart.
    mark = host.mark()
    bridge = start_bridge(*target("a", name), *SPARKPLUG, *state_dir)
    check_nbirth(host.wait("NBIRTH", after=mark), 2)
    host.wait("DBIRTH", "a", after=mark)

    # Stopped: the edge node sends its NDEATH itself before it goes.
    mark = host.mark()
    assert bridge.stop() == 0
    death = host.wait("NDEATH", after=mark)
    assert bdseq(death) == 2
    time.sleep(0.5)
    assert len([m for m in host.messages(mark) if m.type == "NDEATH"]) == 1

    mark = host.mark()
    start_bridge(*target("a", name), *SPARKPLUG, *state_dir)
    check_nbirth(host.wait("NBIRTH", after=mark), 3)


def power_data(host, device, alias, value, after):
    """The first DDATA after `after` that carries output `alias` at `value`."""
    def carries(m):
        return any(x.get("alias") == alias and x["value"] is value for x in m.metrics)
    return host.wait("DDATA", device, after=after, where=carries, timeout=5)


def test_a_dcmd_switches_an_output_and_a_ddata_confirms_it_at_once(
        bus_node, start_bridge, host, state_dir):
    name, registers = bus_node
    # Polls far apart: the confirmation cannot be a poll that came anyway.
    start_bridge(*target("a", name), *SPARKPLUG, *state_dir, interval="5")
    birth = host.wait("DBIRTH", "a")
    alias = {m["name"]: m["alias"] for m in birth.metrics}
    steps = [
        ([{"name": "Power/1", "type": "Boolean", "value": True}], "Power/1", True),
        ([{"alias": alias["Power/3"], "type": "Boolean", "value": True}], "Power/3", True),
        # Unchanged, and still confirmed: the host learns it was done.
        ([{"name": "Power/1", "type": "Boolean", "value": True}], "Power/1", True),
        ([{"name": "Power/3", "alias": alias["Power/3"], "type": "Boolean", "value": False}],
         "Power/3", False),
    ]
    for metrics, metric, value in steps:
        sent, mark = host.command("a", metrics)
        data = power_data(host, "a", alias[metric], value, mark)
        assert data.arrived - sent < 1.0, (metrics, data.arrived - sent)
        assert all("name" not in m for m in data.metrics)
    assert registers.coils(0, 4) == [False, True, False, False]


def test_a_dcmd_that_cannot_be_done_is_refused_whole_and_changes_nothing(
        bus_node, start_bridge, host, state_dir):
    name, registers = bus_node
    bridge = start_bridge(*target("a", name), *SPARKPLUG, *state_dir, interval="0.5")
    alias = {m["name"]: m["alias"] for m in host.wait("DBIRTH", "a").metrics}
    on = {"name": "Power/2", "type": "Boolean", "value": True}
    refused = [
        ("a", [on, {"name": "Analog/0", "type": "UInt16", "value": 7}],
         "Analog/0 cannot be written"),
        ("a", [{"alias": alias["Properties/Serial Number"], "type": "UInt16", "value": 7}],
         "Properties/Serial Number cannot be written"),
        ("a", [{"name": "Power/2", "type": "UInt16", "value": 1}], "needs a Boolean value"),
        ("a", [{"alias": 99999, "type": "Boolean", "value": True}], "alias 99999: no such metric"),
        ("zz", [on], "no such device"),
    ]
    mark = host.mark()
    for device, metrics, reason in refused:
        host.command(device, metrics)
        assert bridge.wait_for(r"DCMD for %s refused: .*%s" % (device, re.escape(reason)), 5), \
            bridge.output()
    host.send("a", b"\xff\xff not protobuf")
    assert bridge.wait_for(r"DCMD for a refused: not a Sparkplug B payload", 5)
    # A good command after them is done: they held nothing up.
    host.command("a", [{"name": "Power/0", "type": "Boolean", "value": True}])
    power_data(host, "a", alias["Power/0"], True, mark)
    assert registers.coils(0, 4) == [True, False, False, False]
    assert not host.find("DDATA", "a", after=mark, where=lambda m: any(
        x["alias"] == alias["Power/2"] and x["value"] is True for x in m.metrics))


def test_seq_runs_on_past_its_wrap_and_a_rebirth_keeps_the_bdseq(
        start_sim, start_bus, start_bridge, host, state_dir):
    bus = start_bus(start_sim("--slave", "1,2,3,4"))
    nodes = ["a", "b", "c", "d"]
    targets = [arg for n, node in enumerate(nodes) for arg in target(node, bus, n + 1)]
    # Fast polls and a short max-age: a stream of DDATA past seq 255.
    start_bridge(*targets, *SPARKPLUG, *state_dir, "--max-age", "1", "--no-plain",
                 interval="0.1")
    for node in nodes:
        host.wait("DBIRTH", node)
    deadline = time.monotonic() + 30
    while len(host.messages()) < 280 and time.monotonic() < deadline:
        time.sleep(0.1)
    # Past the wrap, a host asks for the births again.
    mark = host.mark()
    host.command(None, [{"name": "Node Control/Rebirth", "type": "Boolean", "value": True}])
    rebirth = host.wait("NBIRTH", after=mark)
    while len(host.messages()) < 330 and time.monotonic() < deadline:
        time.sleep(0.1)
    messages = host.messages()
    assert len(messages) >= 330, "only %d messages in 30 s" % len(messages)

    assert bdseq(messages[0]) == bdseq(rebirth) == 0
    check_seq(messages)
    seqs = [m.seq for m in messages]
    assert sum(1 for a, b in zip(seqs, seqs[1:]) if (a, b) == (255, 0)) >= 1
    # After each NBIRTH the births of every device, before any data.
    for start in [i for i, m in enumerate(messages) if m.type == "NBIRTH"]:
        assert sorted(m.device for m in messages[start + 1:start + 5]) == nodes
        assert all(m.type == "DBIRTH" for m in messages[start + 1:start + 5])
    births = [m for m in messages if m.type == "DBIRTH"]
    aliases = [x["alias"] for m in births[:4] for x in m.metrics]
    assert len(set(aliases)) == len(aliases)  # unique across the devices
    for m in messages:
        assert m.type in ("NBIRTH", "DBIRTH", "DDATA"), m
        assert (m.qos, m.retain) == (0, False)
        if m.type == "DDATA":
            assert all("name" not in x and "alias" in x for x in m.metrics), m


def test_a_silent_node_dies_and_is_born_again_and_no_plain_topic_is_used(
        broker, start_sim, start_bridge, host, clients, state_dir):
    plain = clients("snlib/#", "homeassistant/#")
    device = start_sim(link="node")
    start_bridge(*target("a", device), *SPARKPLUG, *state_dir, "--no-plain")
    birth = host.wait("DBIRTH", "a")

    mark = host.mark()
    start_sim.stop("node")
    death = host.wait("DDEATH", "a", after=mark)
    assert death.metrics == [] and (death.qos, death.retain) == (0, False)

    mark = host.mark()
    assert start_sim(link="node") == device
    again = host.wait("DBIRTH", "a", after=mark, timeout=20)
    assert [m["name"] for m in again.metrics] == [m["name"] for m in birth.metrics]
    assert not host.find("NBIRTH", after=mark)  # the edge node stayed up
    check_seq(host.messages())

    assert plain.since() == []
    assert not re.search(r" as snmqtt-e2e[ \n]", broker.process.output())


def test_a_state_directory_that_cannot_be_written_stops_it_with_the_reason(broker, tmp_path):
    (tmp_path / "file").write_text("")
    run = subprocess.run([SNMQTT, "--broker", broker.url, "--target", "a=/dev/null",
                          *SPARKPLUG, "--state-dir", str(tmp_path / "file" / "state")],
                         capture_output=True, text=True, timeout=10)
    assert run.returncode == 1, run.stderr
    assert "cannot make the state directory" in run.stderr
    assert str(tmp_path / "file" / "state") in run.stderr
