"""A Sparkplug host as the tests need one: every message of spBv1.0/# as it
came (raw bytes, QoS, retain flag), decoded by the sparkplug-payload npm
package through sparkplug/decode.js, so snmqtt's payloads are read by a
decoder that is not its own; and commands (DCMD, NCMD) encoded by it too.

The package comes from the lockfile in sparkplug/ (`npm ci` there, which
./run does before the tests)."""

import base64
import json
import os
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DECODER_DIR = os.path.join(HERE, "sparkplug")


class Decoder:
    """One node process answering a JSON line for each line it is given."""

    def __init__(self):
        if not os.path.isdir(os.path.join(DECODER_DIR, "node_modules", "sparkplug-payload")):
            raise RuntimeError("sparkplug-payload is not installed: run `npm ci` in %s "
                               "(./run test does)" % DECODER_DIR)
        self.process = subprocess.Popen(["node", os.path.join(DECODER_DIR, "decode.js")],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lock = threading.Lock()

    def _ask(self, line):
        with self.lock:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
            answer = json.loads(self.process.stdout.readline())
        if "error" in answer:
            raise ValueError(answer["error"])
        return answer

    def decode(self, payload):
        return self._ask(base64.b64encode(payload).decode())["payload"]

    def encode(self, payload):
        return base64.b64decode(self._ask(json.dumps(payload))["base64"])

    def close(self):
        self.process.stdin.close()
        self.process.wait(5)


class Sparkplug:
    """One message on spBv1.0/#: its topic's parts and its decoded payload."""

    def __init__(self, message, decoder):
        parts = message.topic.split("/")
        self.arrived = message.arrived
        self.topic = message.topic
        self.group, self.type, self.edge = parts[1], parts[2], parts[3]
        self.device = parts[4] if len(parts) > 4 else None
        self.qos = message.qos
        self.retain = message.retain
        self.payload = decoder.decode(message.payload)
        self.seq = self.payload.get("seq")
        self.metrics = self.payload.get("metrics", [])

    def metric(self, key):
        """The metric of that name or alias."""
        for m in self.metrics:
            if m.get("name") == key or m.get("alias") == key:
                return m
        raise KeyError("no metric %r in %s: %r" % (key, self.topic, self.metrics))

    def __repr__(self):
        return "<%s seq %s, %d metrics>" % (self.topic, self.seq, len(self.metrics))


class Host:
    """Watches spBv1.0/# through a conftest Client and sends commands."""

    def __init__(self, client, decoder, group="G", edge="E"):
        self.client = client
        self.decoder = decoder
        self.group, self.edge = group, edge
        self.decoded = {}

    def mark(self):
        return self.client.mark()

    def messages(self, after=0):
        """Every message the edge node sent since `after`, decoded (the
        commands sent to it are left out)."""
        found = []
        for index, message in enumerate(self.client.since(0)[after:], start=after):
            if message.topic.split("/")[2] in ("NCMD", "DCMD"):
                continue
            if index not in self.decoded:
                self.decoded[index] = Sparkplug(message, self.decoder)
            found.append(self.decoded[index])
        return found

    def find(self, type, device=None, after=0, where=None):
        for m in self.messages(after):
            if m.type == type and m.device == device and (where is None or where(m)):
                return m
        return None

    def wait(self, type, device=None, after=0, where=None, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            found = self.find(type, device, after, where)
            if found or time.monotonic() > deadline:
                assert found, "no %s %s within %g s; came: %r" % (
                    type, device or "", timeout, self.messages(after)[-10:])
                return found
            time.sleep(0.02)

    def command(self, device, metrics, timestamp=None):
        """Sends a DCMD to `device` (an NCMD when None), metrics given as the
        encoder takes them: {"name"|"alias", "type", "value"}."""
        payload = self.decoder.encode({"timestamp": timestamp or int(time.time() * 1000),
                                       "metrics": metrics})
        return self.send(device, payload)

    def send(self, device, payload):
        topic = "spBv1.0/%s/%s/%s" % (self.group, "DCMD" if device else "NCMD", self.edge)
        if device:
            topic += "/" + device
        mark = self.mark()
        sent = time.monotonic()
        self.client.publish(topic, payload, qos=0)
        return sent, mark
