"""snmqtt's Sparkplug edge node: a DCMD switching an output to the DDATA
that reports what was read back, as a host sees it through mosquitto, the
node behind snbusd with line timing at 115200.  Median and p99 of COMMANDS
commands, each a ratio against the 100 ms limit (goal p99 < 100 ms), the
commands at random moments between the polls (1 s apart, plain topics on
beside it).  Usage: bench_sparkplug.py BUILD_DIR
"""
import os
import random
import socket
import statistics
import sys
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "snmqtt"))
from processes import Process  # noqa: E402 (the shared test support)
from sparkplug_host import Decoder  # noqa: E402 (the tests' Sparkplug decoder)

BAUD = 115200
COMMANDS = 200
LIMIT_MS = 100
OUTPUT = 1


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Rig:
    """snsim with line timing, snbusd, mosquitto and snmqtt as an edge node."""

    def __init__(self, build, work):
        self.processes = []
        try:
            self.launch(build, work)
        except BaseException:
            self.stop()  # what did start is not left running
            raise

    def launch(self, build, work):
        self.start(work, "sim", [f"{build}/sim/snsim", "--link", f"{work}/node",
                                 "--line-timing", "--baud", str(BAUD)], r"^snsim ready on ")
        bus = self.start(work, "bus", [f"{build}/snbusd/snbusd", "-p", f"{work}/node",
                                       "--listen", "127.0.0.1:0"],
                         r"listening on 127\.0\.0\.1:(\d+)")
        self.port = free_port()
        with open(f"{work}/mosquitto.conf", "w") as config:
            config.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\n"
                         "log_dest stderr\nlog_type information\n")
        self.start(work, "mosquitto", ["/usr/sbin/mosquitto", "-c", f"{work}/mosquitto.conf"],
                   r"mosquitto version \S+ running")
        self.start(work, "snmqtt", [f"{build}/snmqtt/snmqtt", "--broker",
                                    f"mqtt://127.0.0.1:{self.port}", "--target",
                                    f"n=tcp:127.0.0.1:{bus.match.group(1)}",
                                    "--sparkplug", "Bench/edge", "--state-dir", f"{work}/state",
                                    "--client-id", "bench"],
                   r"^snmqtt: bridging ")

    def start(self, work, name, argv, ready):
        process = Process(argv, ready, f"{work}/{name}.log")
        self.processes.append(process)
        return process

    def stop(self):
        for process in reversed(self.processes):
            process.stop()


class Host:
    """The host's side: every DDATA of the device as it arrives."""

    def __init__(self, port):
        self.arrived = []  # (monotonic time, payload)
        self.changed = threading.Condition()
        self.client = mqtt.Client(client_id="bench-host", protocol=mqtt.MQTTv5)
        self.client.on_message = self.message
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        self.client.subscribe("spBv1.0/Bench/+/edge/n", qos=0)

    def message(self, client, userdata, message):
        with self.changed:
            self.arrived.append((time.monotonic(), message.topic, message.payload))
            self.changed.notify_all()

    def wait(self, after, accept, timeout):
        """The first message after index `after` that `accept` takes."""
        deadline = time.monotonic() + timeout
        seen = after
        while True:
            with self.changed:
                self.changed.wait_for(lambda: len(self.arrived) > seen, 0.05)
                fresh = self.arrived[seen:]
            for arrived, topic, payload in fresh:
                seen += 1
                if accept(topic, payload):
                    return arrived
            if time.monotonic() > deadline:
                return None

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def measure(host, decoder):
    """Milliseconds from each DCMD to the DDATA with the output as asked."""
    if host.wait(0, lambda topic, payload: "/DBIRTH/" in topic, 10) is None:
        sys.exit("bench_sparkplug: no DBIRTH")
    birth = next(payload for _, topic, payload in host.arrived if "/DBIRTH/" in topic)
    alias = next(m["alias"] for m in decoder.decode(birth)["metrics"]
                 if m["name"] == f"Power/{OUTPUT}")
    commands = {value: decoder.encode({"timestamp": 0, "metrics": [
        {"alias": alias, "type": "Boolean", "value": value}]}) for value in (True, False)}
    latencies = []
    for n in range(COMMANDS):
        value = n % 2 == 0

        def confirms(topic, payload, value=value):
            return "/DDATA/" in topic and any(
                m.get("alias") == alias and m["value"] is value
                for m in decoder.decode(payload)["metrics"])

        time.sleep(random.uniform(0.02, 0.3))  # anywhere between two polls
        mark = len(host.arrived)
        sent = time.monotonic()
        host.client.publish("spBv1.0/Bench/DCMD/edge/n", commands[value], qos=0)
        arrived = host.wait(mark, confirms, 2)
        if arrived is not None:
            latencies.append((arrived - sent) * 1000)
    return latencies


def main():
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        rig = Rig(build, work)
        try:
            decoder = Decoder()
            try:
                host = Host(rig.port)
                try:
                    latencies = measure(host, decoder)
                finally:
                    host.close()
            finally:
                decoder.close()
        finally:
            rig.stop()
    print(f"snmqtt's Sparkplug edge node, DCMD to the DDATA that confirms it "
          f"(snbusd, line timing at {BAUD}):")
    if not latencies:
        print("  no command was confirmed")
        return
    median = statistics.median(latencies)
    p99 = sorted(latencies)[min(len(latencies) - 1, int(0.99 * len(latencies)))]
    print(f"  {len(latencies)} of {COMMANDS} commands confirmed; "
          f"median {median:.2f} ms, ratio to {LIMIT_MS} ms {median / LIMIT_MS:.2f}; "
          f"p99 {p99:.2f} ms, ratio to {LIMIT_MS} ms {p99 / LIMIT_MS:.2f} (goal < 1); "
          f"max {max(latencies):.2f} ms")


if __name__ == "__main__":
    main()
