"""The bridge's and the nodes' comings and goings as a client sees them: a
node that stops answering and comes back, a broker that restarts with an
empty memory, and a bridge that stops or is killed."""

import signal

import pytest

from conftest import DISCOVERY, REPLIES, config_topics, node_state_topics, power_topics, target

INTERVAL = 0.5


def test_a_node_that_stops_answering_goes_offline_and_comes_back_by_itself(
        start_sim, start_bridge, clients):
    device = start_sim(link="node")
    start_bridge(*target("a", device), interval=str(INTERVAL))
    watcher = clients("snlib/#", REPLIES)
    watcher.wait("snlib/a/availability", "online")
    watcher.wait_all(power_topics("a"))

    mark = watcher.mark()
    start_sim.stop("node")
    # Due three intervals after its last answer, which came before the stop;
    # the rest is slack for a busy machine.
    watcher.wait("snlib/a/availability", "offline", after=mark, timeout=3 * INTERVAL + 2)
    # What it said last stands, marked by its availability.
    state = clients("snlib/#").wait_all(node_state_topics("a"))
    assert state["snlib/a/availability"].text == "offline"
    assert [state[t].text for t in power_topics("a")] == ["OFF"] * 4

    mark = watcher.mark()
    assert start_sim(link="node") == device
    watcher.wait("snlib/a/availability", "online", after=mark, timeout=20)
    _, mark = watcher.ask("snlib/a/power/2/set", "ON", b"back")
    assert watcher.answer(b"back", mark) == "a: power 2 on: done"
    watcher.wait("snlib/a/power/2", "ON", after=mark)


def test_after_the_broker_restarts_empty_everything_retained_is_there_again(
        bus_node, broker, start_bridge, clients):
    name, registers = bus_node
    start_bridge(*target("a", name))
    everything = (node_state_topics("a") + config_topics(4101)
                  + ["snlib/bridge/state", "snlib/bridge/nodes"])
    clients("snlib/#", DISCOVERY + "/#").wait_all(everything)

    broker.stop()
    registers.write_coil(1, True)  # while the broker is away
    broker.restart()
    state = clients("snlib/#", DISCOVERY + "/#").wait_all(everything, timeout=20)
    assert all(state[t].retain and state[t].payload for t in everything)
    assert state["snlib/bridge/state"].text == "online"
    assert state["snlib/a/availability"].text == "online"
    # A fresh reading, not what the bridge held before the broker went.
    watcher = clients("snlib/a/power/1")
    watcher.wait("snlib/a/power/1", "ON", timeout=5)
    # And it takes commands again: it subscribed anew.
    asker = clients(REPLIES, "snlib/a/power/0")
    _, mark = asker.ask("snlib/a/power/0/set", "ON", b"again")
    assert asker.answer(b"again", mark) == "a: power 0 on: done"
    assert registers.coils(0) == [True]


@pytest.mark.parametrize("how", [signal.SIGTERM, signal.SIGKILL], ids=["stopped", "killed"])
def test_a_bridge_that_is_gone_is_offline(how, start_sim, start_bridge, clients):
    bridge = start_bridge(*target("a", start_sim()))
    watcher = clients("snlib/bridge/state")
    watcher.wait("snlib/bridge/state", "online")
    mark = watcher.mark()
    status = bridge.stop(how)
    # A stop is a clean end; a kill leaves it to the will the broker holds.
    assert status == (0 if how == signal.SIGTERM else -signal.SIGKILL), bridge.output()
    watcher.wait("snlib/bridge/state", "offline", after=mark)
    late = clients("snlib/bridge/state").wait("snlib/bridge/state")
    assert (late.text, late.retain) == ("offline", True)
