"""What snmqtt publishes of a node, seen by a client of its own and checked
against the node's registers read by pymodbus: the retained states, the
Home Assistant discovery configs, and both published again when Home
Assistant comes back or taken back when a node leaves the bridge."""

import time

from conftest import DISCOVERY, config_topics, json_is, node_state_topics, target

SERIAL = 4101  # the emulator's serial number for slave 1
BRIDGE_CONFIG_FILTER = DISCOVERY + "/binary_sensor/+/+/config"


def configs_of(state, serial):
    """The node's discovery configs, parsed, by topic."""
    return {topic: state[topic].json() for topic in config_topics(serial)}


def bridge_configs(state):
    """The retained binary_sensor configs whose state is the bridge's."""
    found = []
    for topic, message in state.items():
        parts = topic.split("/")
        if (len(parts) == 5 and parts[0] == DISCOVERY and parts[1] == "binary_sensor"
                and parts[4] == "config" and message.payload):
            config = message.json()
            if config.get("state_topic") == "snlib/bridge/state":
                found.append(config)
    return found


def test_states_and_discovery_configs_are_retained_as_the_node_has_them(bus_node, start_bridge,
                                                                       clients):
    name, registers = bus_node
    registers.write_coil(2, True)  # set before the bridge starts: it shows what it reads
    registers.write_word(47 + 2 * 5, 1234)
    registers.write_word(48 + 2 * 5, 777)
    start_bridge(*target("a", name), "--channel", "3:Supply:V:0.001")
    watcher = clients("snlib/#", DISCOVERY + "/#")
    wanted = node_state_topics("a") + config_topics(SERIAL) + ["snlib/bridge/state",
                                                               "snlib/bridge/nodes"]
    watcher.wait_all(wanted)
    # A client that comes now sees all of it from the broker's memory.
    state = clients("snlib/#", DISCOVERY + "/#").wait_all(wanted)
    assert all(state[topic].retain for topic in wanted), [t for t in wanted if not state[t].retain]

    assert state["snlib/bridge/state"].text == "online"
    assert state["snlib/a/availability"].text == "online"
    assert [state["snlib/a/power/%d" % n].text for n in range(4)] == ["OFF", "OFF", "ON", "OFF"]
    words = registers.words(47, 16)
    assert words[10:12] == [1234, 777]
    for c in range(8):
        assert state["snlib/a/analog/%d/parms" % c].text == "%d %d" % (words[2 * c],
                                                                      words[2 * c + 1])
        count = state["snlib/a/analog/%d" % c].text
        assert count.isdigit() and 0 <= int(count) <= 4095, (c, count)

    info = state["snlib/a/info"].json()
    high, low = registers.words(17, 2)
    assert info["serial_number"] == SERIAL == registers.word(15)
    assert info["software_revision"] == registers.word(16)
    assert info["board_config"] == (high << 16) | low
    assert info["hw_config"] == registers.word(20)
    assert info["device_timeout"] == registers.word(21)
    assert info["analog_parms"] == [[words[2 * c], words[2 * c + 1]] for c in range(8)]
    assert state["snlib/bridge/nodes"].json() == {"a": SERIAL}

    configs = configs_of(state, SERIAL)
    availability = [{"topic": "snlib/bridge/state", "payload_available": "online",
                     "payload_not_available": "offline"},
                    {"topic": "snlib/a/availability", "payload_available": "online",
                     "payload_not_available": "offline"}]
    for config in configs.values():
        assert [{k: a.get(k) for k in availability[0]} for a in config["availability"]] \
            == availability
        assert config["availability_mode"] == "all"
    devices = {str(config["device"]["identifiers"]) for config in configs.values()}
    assert len(devices) == 1, devices  # one device with twelve entities
    assert len({config["unique_id"] for config in configs.values()}) == 12
    for n in range(4):
        switch = configs[config_topics(SERIAL)[n]]
        assert switch["state_topic"] == "snlib/a/power/%d" % n
        assert switch["command_topic"] == "snlib/a/power/%d/set" % n
        assert (switch["payload_on"], switch["payload_off"]) == ("ON", "OFF")
    for c in range(8):
        assert configs[config_topics(SERIAL)[4 + c]]["state_topic"] == "snlib/a/analog/%d" % c
    supply = configs[config_topics(SERIAL)[7]]
    assert (supply["name"], supply["unit_of_measurement"]) == ("Supply", "V")
    assert "0.001" in supply["value_template"]
    assert "unit_of_measurement" not in configs[config_topics(SERIAL)[4]]

    # The bridge itself: one connectivity sensor, and the node's device
    # names it as the device it is reached through.
    late = clients(BRIDGE_CONFIG_FILTER)
    bridge = eventually_one(lambda: bridge_configs(late.latest()))
    assert bridge["device_class"] == "connectivity"
    assert (bridge["payload_on"], bridge["payload_off"]) == ("online", "offline")
    assert configs[config_topics(SERIAL)[0]]["device"]["via_device"] \
        in bridge["device"]["identifiers"]


def eventually_one(find, timeout=5):
    """The one thing `find` gives once it gives exactly one."""
    deadline = time.monotonic() + timeout
    while True:
        found = find()
        if len(found) == 1 or time.monotonic() > deadline:
            assert len(found) == 1, found
            return found[0]
        time.sleep(0.1)


def test_readings_follow_the_node_beyond_each_channels_deadband(bus_node, start_bridge, clients):
    name, _ = bus_node
    watcher = clients("snlib/a/analog/+")
    # The emulator's channels swing over about 3000 counts in seconds.
    start_bridge(*target("a", name), "--deadband", "0=5000", "--deadband", "a/1=0")
    time.sleep(3)
    moving = [m.text for m in watcher.since(topic="snlib/a/analog/1")]
    held = [m.text for m in watcher.since(topic="snlib/a/analog/0")]
    assert len(set(moving)) >= 3, moving
    assert len(held) == 1, held


def test_home_assistant_coming_online_gets_every_config_and_state_again(bus_node, start_bridge,
                                                                       clients):
    name, _ = bus_node
    start_bridge(*target("a", name))
    watcher = clients("snlib/#", DISCOVERY + "/#")
    watcher.wait_all(node_state_topics("a") + config_topics(SERIAL))
    time.sleep(0.5)  # whatever the start still had on its way
    mark = watcher.mark()
    clients().publish(DISCOVERY + "/status", "online")
    again = node_state_topics("a") + config_topics(SERIAL) + ["snlib/bridge/state"]
    for topic in again:
        watcher.wait(topic, after=mark)
    assert len(bridge_configs({m.topic: m for m in watcher.since(mark)})) == 1

    # Anything else Home Assistant says of itself asks for nothing.
    time.sleep(0.5)
    mark = watcher.mark()
    clients().publish(DISCOVERY + "/status", "offline")
    time.sleep(1.5)
    assert not [m for m in watcher.since(mark)
                if m.topic.startswith(DISCOVERY + "/") and m.topic != DISCOVERY + "/status"]


def test_a_node_left_out_of_the_targets_has_its_configs_and_states_cleared(start_sim, start_bus,
                                                                         start_bridge, clients):
    first = start_bus(start_sim("--slave", "1,2"))
    bridge = start_bridge(*target("a", first, 1), *target("b", first, 2))
    watcher = clients("snlib/#", DISCOVERY + "/#")
    watcher.wait_all(config_topics(4101) + config_topics(4102) + node_state_topics("b"))
    watcher.wait("snlib/bridge/nodes", json_is({"a": 4101, "b": 4102}))
    bridge.stop()

    start_bridge(*target("a", first, 1))
    for topic in config_topics(4102) + node_state_topics("b"):
        watcher.wait(topic, "")
    watcher.wait("snlib/bridge/nodes", json_is({"a": 4101}))
    # What the broker keeps now: all of a, nothing of b.
    late = clients("snlib/#", DISCOVERY + "/#")
    late.wait_all(config_topics(4101) + node_state_topics("a"))
    time.sleep(0.5)  # the rest of the broker's retained messages
    state = late.latest()
    assert not [t for t in state if "snlib_4102" in t or t.startswith("snlib/b/")]
    assert all(state[t].payload for t in config_topics(4101))
    assert state["snlib/a/availability"].text == "online"
