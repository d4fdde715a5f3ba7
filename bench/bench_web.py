"""snweb's benchmark rows, each a ratio against its limit or its peer.

Idle CPU of snweb with no page open and with one page plotting at 2 Hz
(limits 0.5 % and 2 % of a core), and the Modbus transactions a second it
makes on one node with 1 and with 10 pages open (equal within 5 %: one
poller per node).  A page here is a WebSocket client of the bench's own
that reads what a browser would.  Usage: bench_web.py BUILD_DIR
"""
import base64
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

SECONDS = 15


def wait_for(path, pattern, process, seconds=10):
    """The first match of `pattern` in the file at `path`, once it appears."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as text:
            found = re.search(pattern, text.read())
        if found:
            return found
        if process.poll() is not None:
            break
        time.sleep(0.05)
    sys.exit(f"bench_web: no '{pattern}' in {path}")


def cpu_seconds(pid):
    """User and system time the process has used so far."""
    with open(f"/proc/{pid}/stat", encoding="ascii") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def transactions(metrics_port):
    """The daemon's count of transactions done on the line."""
    page = urllib.request.urlopen(f"http://127.0.0.1:{metrics_port}/metrics", timeout=5).read()
    return sum(float(m) for m in re.findall(
        rb"^snbusd_transactions_total(?:\{[^}]*\})? ([0-9.e+]+)$", page, re.M))


class Page(threading.Thread):
    """A page plotting one node: its WebSocket, every message read."""

    def __init__(self, port, token, node):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        key = base64.b64encode(os.urandom(16)).decode()
        host = f"127.0.0.1:{port}"
        self.sock.sendall((f"GET /ws/node/{node} HTTP/1.1\r\nHost: {host}\r\n"
                           f"Origin: http://{host}\r\nCookie: snweb_token={token}\r\n"
                           "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                           f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n"
                           "Sec-WebSocket-Protocol: snweb\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            head += self.sock.recv(4096)
        if b" 101 " not in head.split(b"\r\n")[0]:
            sys.exit(f"bench_web: WebSocket refused: {head[:200]!r}")
        self.received = len(head.split(b"\r\n\r\n", 1)[1])
        self.start()

    def run(self):
        try:
            while True:
                data = self.sock.recv(65536)
                if not data:
                    return
                self.received += len(data)
        except OSError:
            return


def start(build, work):
    """snsim, snbusd with its metrics, snweb on one node through it."""
    sim = subprocess.Popen([f"{build}/sim/snsim", "--link", f"{work}/node"],
                           stdout=open(f"{work}/sim.out", "w"), stderr=subprocess.STDOUT)
    wait_for(f"{work}/sim.out", r"snsim ready on ", sim)
    bus = subprocess.Popen([f"{build}/snbusd/snbusd", "-p", f"{work}/node", "--listen",
                            "127.0.0.1:0", "--metrics", "127.0.0.1:0"],
                           stderr=open(f"{work}/bus.log", "w"))
    port = wait_for(f"{work}/bus.log", r"listening on 127\.0\.0\.1:(\d+)", bus).group(1)
    metrics = wait_for(f"{work}/bus.log", r"metrics on http://127\.0\.0\.1:(\d+)", bus).group(1)
    web = subprocess.Popen([f"{build}/snweb/snweb", "--listen", "127.0.0.1:0", "--target",
                            f"n=tcp:127.0.0.1:{port},slave=1"],
                           stdout=open(f"{work}/web.out", "w"), stderr=open(f"{work}/web.log", "w"))
    found = wait_for(f"{work}/web.out", r"127\.0\.0\.1:(\d+)/\?token=(\w+)", web)
    return [sim, bus, web], int(metrics), int(found.group(1)), found.group(2)


def measure(web_pid, metrics_port):
    """snweb's share of a core and the line's transactions a second."""
    cpu, count, began = cpu_seconds(web_pid), transactions(metrics_port), time.monotonic()
    time.sleep(SECONDS)
    spent = time.monotonic() - began
    return ((cpu_seconds(web_pid) - cpu) / spent * 100,
            (transactions(metrics_port) - count) / spent)


def main():
    """Three phases, one after the other, on one set of processes."""
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        processes, metrics, port, token = start(build, work)
        try:
            time.sleep(2)  # past the first identity reads
            idle, idle_rate = measure(processes[2].pid, metrics)
            pages = [Page(port, token, "n")]
            one_cpu, one_rate = measure(processes[2].pid, metrics)
            pages += [Page(port, token, "n") for _ in range(9)]
            _, ten_rate = measure(processes[2].pid, metrics)
            silent = [p for p in pages if p.received == 0]
        finally:
            for process in processes:
                process.terminate()
                process.wait()
    print("snweb, one node through snbusd, plot at 2 Hz, %d s a phase:" % SECONDS)
    print("  idle, no page open:    %5.2f %% of a core, ratio to the 0.5 %% limit %.2f"
          % (idle, idle / 0.5))
    print("  one page plotting:     %5.2f %% of a core, ratio to the 2 %% limit %.2f"
          % (one_cpu, one_cpu / 2))
    print("  Modbus transactions/s: no page %.2f, 1 page %.2f, 10 pages %.2f, "
          "ratio 10 to 1 %.3f (goal 0.95-1.05)"
          % (idle_rate, one_rate, ten_rate, ten_rate / one_rate if one_rate else float("nan")))
    if silent:
        print(f"  {len(silent)} of the pages received nothing")


if __name__ == "__main__":
    main()
