"""Fixtures of snmqtt's end-to-end suite: a mosquitto broker of each test's
own, the bridge as a process, and paho as the independent MQTT client that
looks at what the bridge published and sends it commands.  The emulator,
the bus daemon and pymodbus come from the support the Python suites share.

ctest sets SN_SNSIM, SN_SNBUSD and SN_SNMQTT to the programs of the build
tree, and PYTHONPATH to tests/support.
"""

import json
import os
import signal
import socket
import threading
import time

import paho.mqtt.client as mqtt
import pytest
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties
from paho.mqtt.subscribeoptions import SubscribeOptions

from processes import Process, bus_node, start_bus, start_sim  # noqa: F401 (fixtures)

SNMQTT = os.environ.get("SN_SNMQTT", "build/snmqtt/snmqtt")
MOSQUITTO = "/usr/sbin/mosquitto"
BRIDGE_ID = "snmqtt-e2e"
DISCOVERY = "homeassistant"
REPLIES = "e2e/replies"  # where the tests want the answers to their commands


def free_port():
    """A TCP port nothing listens on just now."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Broker:
    """A mosquitto of the test's own, without persistence, so that a restart
    forgets every retained message, as a broker that lost its disk."""

    def __init__(self, directory):
        self.directory = directory
        self.port = None
        self.process = None
        self.starts = 0
        self.start()

    @property
    def url(self):
        return "mqtt://127.0.0.1:%d" % self.port

    def start(self):
        """Starts it, on the port it had before; a first start takes a free
        port, another one when a suite beside us took it meanwhile."""
        tries = 1 if self.port else 5
        for attempt in range(tries):
            port = self.port or free_port()
            config = self.directory / "mosquitto.conf"
            config.write_text("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n"
                              "log_dest stderr\nlog_type all\n" % port)
            self.starts += 1
            log = str(self.directory / ("mosquitto%d.log" % self.starts))
            try:
                self.process = Process([MOSQUITTO, "-c", str(config)],
                                       r"mosquitto version \S+ running", log)
                self.port = port
                return
            except RuntimeError:
                if attempt + 1 == tries:
                    raise

    def stop(self):
        if self.process:
            self.process.stop()

    def restart(self):
        """Stopped and started again on the same port, empty."""
        self.stop()
        deadline = time.monotonic() + 10
        while True:
            try:
                return self.start()
            except RuntimeError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)


@pytest.fixture
def broker(tmp_path):
    started = Broker(tmp_path)
    yield started
    started.stop()


class Message:
    """One message as a client got it."""

    def __init__(self, message):
        self.arrived = time.monotonic()
        self.topic = message.topic
        self.payload = message.payload
        self.text = message.payload.decode("utf-8", "replace")
        self.qos = message.qos
        self.retain = bool(message.retain)
        properties = getattr(message, "properties", None)
        self.correlation = getattr(properties, "CorrelationData", None)

    def json(self):
        return json.loads(self.text)

    def __repr__(self):
        return "<%s %r%s>" % (self.topic, self.payload[:80], " retained" if self.retain else "")


class Client:
    """An MQTT 5 client: every message of its subscriptions in the order it
    came, the retain flag as published (so a state's retained flag shows on
    live messages too)."""

    counter = 0

    def __init__(self, broker, *filters):
        Client.counter += 1
        self.messages = []
        self.changed = threading.Condition()
        self.acknowledged = set()
        self.client = mqtt.Client(client_id="e2e-%d-%d" % (os.getpid(), Client.counter),
                                  protocol=mqtt.MQTTv5)
        self.client.on_connect = self._connected
        self.client.on_subscribe = self._subscribed
        self.client.on_message = self._message
        self.up = False
        self.client.connect("127.0.0.1", broker.port, keepalive=30)
        self.client.loop_start()
        self._until(lambda: self.up, "a connection to the broker")
        if filters:
            options = SubscribeOptions(qos=2, retainAsPublished=True)
            _, mid = self.client.subscribe([(f, options) for f in filters])
            self._until(lambda: mid in self.acknowledged, "the broker's SUBACK")

    def _connected(self, client, userdata, flags, reason, properties=None):
        with self.changed:
            self.up = not reason.is_failure if hasattr(reason, "is_failure") else reason == 0
            self.changed.notify_all()

    def _subscribed(self, client, userdata, mid, reasons, properties=None):
        with self.changed:
            self.acknowledged.add(mid)
            self.changed.notify_all()

    def _message(self, client, userdata, message):
        with self.changed:
            self.messages.append(Message(message))
            self.changed.notify_all()

    def _until(self, condition, what, timeout=10):
        with self.changed:
            if not self.changed.wait_for(condition, timeout):
                raise AssertionError("no %s within %g s" % (what, timeout))

    def mark(self):
        """Where the messages stand now: wait(after=mark) looks past it."""
        with self.changed:
            return len(self.messages)

    def since(self, mark=0, topic=None):
        with self.changed:
            return [m for m in self.messages[mark:] if topic is None or m.topic == topic]

    def find(self, topic, payload=None, after=0):
        """The first message on `topic` (with `payload`, text or a function
        of the text) after `after`, or None."""
        for m in self.since(after, topic):
            if payload is None or (payload(m.text) if callable(payload) else m.text == payload):
                return m
        return None

    def wait(self, topic, payload=None, after=0, timeout=10):
        """Waits for what find() finds; fails saying what came instead."""
        found = [None]

        def arrived():
            found[0] = self.find(topic, payload, after)
            return found[0] is not None

        with self.changed:
            if self.changed.wait_for(arrived, timeout):
                return found[0]
        raise AssertionError("no %s %r within %g s; came: %r"
                             % (topic, payload, timeout, self.since(after, topic)[-10:]))

    def ask(self, topic, payload, correlation):
        """Publishes a command that wants its answer on REPLIES, which this
        client must subscribe to; gives the time it went and the mark of
        the messages before it."""
        mark = self.mark()
        sent = time.monotonic()
        self.publish(topic, payload, response=REPLIES, correlation=correlation)
        return sent, mark

    def answer(self, correlation, after=0, timeout=10):
        """The text of the answer on REPLIES that carries `correlation`."""
        found = [None]

        def arrived():
            found[0] = next((m for m in self.since(after, REPLIES)
                             if m.correlation == correlation), None)
            return found[0] is not None

        with self.changed:
            if self.changed.wait_for(arrived, timeout):
                return found[0].text
        raise AssertionError("no answer with %r within %g s; came: %r"
                             % (correlation, timeout, self.since(after, REPLIES)))

    def latest(self):
        """Each topic's last payload: what a client sees as the broker's state."""
        state = {}
        for m in self.since():
            state[m.topic] = m
        return state

    def wait_all(self, topics, timeout=10):
        """Waits until a message came on each of `topics`; gives latest()."""
        missing = []
        with self.changed:
            def complete():
                seen = {m.topic for m in self.messages}
                missing[:] = [t for t in topics if t not in seen]
                return not missing
            self.changed.wait_for(complete, timeout)
        assert not missing, "nothing within %g s on %s" % (timeout, missing)
        return self.latest()

    def publish(self, topic, payload, qos=1, retain=False, response=None, correlation=None):
        """Publishes and waits until the broker has it; with `response`,
        asks for an answer there (MQTT 5 response topic)."""
        properties = None
        if response is not None:
            properties = Properties(PacketTypes.PUBLISH)
            properties.ResponseTopic = response
            if correlation is not None:
                properties.CorrelationData = correlation
        info = self.client.publish(topic, payload, qos=qos, retain=retain, properties=properties)
        info.wait_for_publish(10)
        assert info.is_published(), "the broker did not take %s" % topic

    def close(self):
        self.client.disconnect()
        self.client.loop_stop()


@pytest.fixture
def clients(broker):
    """Makes MQTT clients on the test's broker: clients(filter, ...)."""
    made = []

    def make(*filters):
        client = Client(broker, *filters)
        made.append(client)
        return client

    yield make
    for client in made:
        client.close()


class Bridge(Process):
    """snmqtt running."""

    stopped = False
    ended_early = False

    def stop(self, how=signal.SIGTERM, timeout=5.0):
        """Stops it on purpose; that it had ended already is noted, for
        nothing but a test ends it."""
        if not self.stopped:
            self.ended_early = not self.running()
            self.stopped = True
        return super().stop(how, timeout)

    def refusal_lines(self):
        return [line for line in self.output().splitlines() if "refused" in line]


@pytest.fixture
def start_bridge(broker, tmp_path):
    """Starts snmqtt on the test's broker with quick polls: start_bridge(
    "--target", "a=DEVICE", ...).  The client id is the same in every
    start, so a restarted bridge is the same bridge to the broker."""
    started = []

    def start(*args, interval="0.2"):
        argv = [SNMQTT, "--broker", broker.url, "--client-id", BRIDGE_ID,
                "--interval", interval, *args]
        log = str(tmp_path / ("snmqtt%d.log" % len(started)))
        bridge = Bridge(argv, r"^snmqtt: bridging \d+ nodes? to ", log)
        started.append(bridge)
        return bridge

    yield start
    # A bridge the test left running must end cleanly on SIGTERM.
    statuses = [(bridge, bridge.stopped or bridge.stop() == 0) for bridge in started]
    for bridge, clean in statuses:
        assert not bridge.ended_early, "snmqtt ended before it was stopped: " + bridge.output()
        assert clean, "snmqtt did not end cleanly: " + bridge.output()


def power_topics(node, base="snlib"):
    return ["%s/%s/power/%d" % (base, node, n) for n in range(4)]


def analog_topics(node, base="snlib"):
    return ["%s/%s/analog/%d" % (base, node, c) for c in range(8)]


def node_state_topics(node, base="snlib"):
    """Every retained state topic of a node that answers, before any
    command: availability, outputs, readings, parameter words, identity."""
    return (["%s/%s/availability" % (base, node), "%s/%s/info" % (base, node)]
            + power_topics(node, base) + analog_topics(node, base)
            + ["%s/%s/analog/%d/parms" % (base, node, c) for c in range(8)])


def config_topics(serial, prefix=DISCOVERY):
    """The discovery configs of a node, by its serial number."""
    object_id = "snlib_%d" % serial
    return (["%s/switch/%s/power_%d/config" % (prefix, object_id, n) for n in range(4)]
            + ["%s/sensor/%s/analog_%d/config" % (prefix, object_id, c) for c in range(8)])


def target(name, device, slave=None):
    return ["--target", "%s=%s%s" % (name, device, ",slave=%d" % slave if slave else "")]


def json_is(expected):
    """A payload test: the text is JSON equal to `expected`."""
    def test(text):
        try:
            return json.loads(text) == expected
        except ValueError:
            return False
    return test

