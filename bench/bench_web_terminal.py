"""snweb's browser terminal in a real browser (headless Chromium), each
figure a ratio against its limit.

Receive: the node streams into port 1 faster than the Modbus line can carry
(line timing at 115200); the bytes reaching the page a second, counted by the
page's own hook, against that line's limit for 240-byte reads (goal >= 0.90).
Keystrokes: a key typed in the page to the instrument's end of port 1, on an
idle node (median < 10 ms, p99 < 50 ms), and through snbusd while a bridge on
port 2 streams (p99 < 30 ms).  The page stamps when a key left it, the bench
when the instrument heard it; both clocks are this machine's.
Usage: bench_web_terminal.py BUILD_DIR
"""
import os
import random
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "snweb"))
from browser_check import browser, open_terminal, set_line  # noqa: E402 (the shared browser steps)
from bench_web import wait_for  # noqa: E402 (beside this file)

BAUD = 115200
RECEIVE_SECONDS = 8
KEYS = 200


def line_limit():
    """Bytes a second that 240-byte reads carry at BAUD: 262 bytes on the line each."""
    return 240 * (BAUD / 10) / 262


class Rig:
    """snsim with line timing; snweb on it directly or through snbusd."""

    def __init__(self, build, work, through_daemon):
        self.build, self.work, self.processes = build, work, []
        self.instrument = [f"{work}/inst1", f"{work}/inst2"]
        sim = self.spawn("sim", [f"{build}/sim/snsim", "--link", f"{work}/node", "--line-timing",
                                 "--baud", str(BAUD), "--rx-fifo", "1048576", "--tx-fifo", "1048576",
                                 "--port1", f"pty:{self.instrument[0]}",
                                 "--port2", f"pty:{self.instrument[1]}"])
        wait_for(f"{work}/sim.log", r"snsim ready on ", sim)
        self.device = f"{work}/node"
        if through_daemon:
            bus = self.spawn("bus", [f"{build}/snbusd/snbusd", "-p", self.device,
                                     "--listen", "127.0.0.1:0"])
            port = wait_for(f"{work}/bus.log", r"listening on 127\.0\.0\.1:(\d+)", bus).group(1)
            self.device = f"tcp:127.0.0.1:{port}"
        web = self.spawn("web", [f"{build}/snweb/snweb", "--listen", "127.0.0.1:0",
                                 "--target", f"n={self.device},slave=1"])
        self.url = "http://" + wait_for(f"{work}/web.log", r"127\.0\.0\.1:\d+/\?token=\w+",
                                             web).group(0)

    def spawn(self, name, argv):
        """A process of the rig, its output in WORK/NAME.log."""
        log = open(f"{self.work}/{name}.log", "w", encoding="utf-8")
        process = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT)
        self.processes.append(process)
        return process

    def stop(self):
        """Every process of the rig, last started first."""
        for process in reversed(self.processes):
            process.terminate()
            process.wait()


def raw(path):
    """The instrument's end of a port, raw."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    return fd


def stream_into(fd, stop):
    """Writes printable bytes into `fd` as fast as it takes them, until stop."""
    block = bytes(range(32, 127)) * 40
    while not stop.is_set():
        select.select([], [fd], [], 0.1)
        try:
            os.write(fd, block)
        except BlockingIOError:
            pass


def drain(fd, stop):
    """Reads `fd` away until stop."""
    while not stop.is_set():
        if select.select([fd], [], [], 0.1)[0]:
            try:
                os.read(fd, 65536)
            except BlockingIOError:
                pass


def measure_receive(driver, instrument):
    """Bytes a second the page counts while the node streams."""
    stop = threading.Event()
    writer = threading.Thread(target=stream_into, args=(raw(instrument), stop), daemon=True)
    writer.start()
    time.sleep(2)  # the node's FIFO and the relay up to speed
    count = "return window.snweb.terminal.received;"
    before, began = driver.execute_script(count), time.monotonic()
    time.sleep(RECEIVE_SECONDS)
    rate = (driver.execute_script(count) - before) / (time.monotonic() - began)
    missed = driver.execute_script("return window.snweb.terminal.missed;")
    stop.set()
    writer.join()
    return rate, missed


def measure_keys(driver, instrument):
    """Milliseconds from the page to the instrument, one key at a time."""
    fd = raw(instrument)
    while select.select([fd], [], [], 0.3)[0]:
        os.read(fd, 65536)  # what was left from before
    latencies = []
    for _ in range(KEYS):
        time.sleep(random.uniform(0.005, 0.045))  # any moment of the relay's poll cycle
        driver.execute_script("window.snweb.type('k');")
        if not select.select([fd], [], [], 2.0)[0]:
            continue
        heard = time.time() * 1000
        os.read(fd, 64)
        latencies.append(heard - driver.execute_script("return window.snweb.terminal.sentAt;"))
    os.close(fd)
    return latencies


def percentile(values, share):
    """The value below which `share` of them lie."""
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


def terminal_page(driver, rig):
    """Logged in, the terminal on port 1 live, its line faster than the Modbus line."""
    driver.get(rig.url)
    base = rig.url.split("/?")[0]
    open_terminal(driver, base, 1, node="n")
    set_line(driver, 230400)


def flush_in(driver):
    """The page's own button: the node drops what it has received."""
    driver.find_element(By.XPATH, '//button[text()="Flush in"]').click()
    time.sleep(1)


def direct(build, driver):
    """The receive row and the idle keystroke row, snweb on the device."""
    with tempfile.TemporaryDirectory() as work:
        rig = Rig(build, work, through_daemon=False)
        try:
            terminal_page(driver, rig)
            rate, missed = measure_receive(driver, rig.instrument[0])
            flush_in(driver)  # what the node still holds would keep the relay busy
            keys = measure_keys(driver, rig.instrument[0])
        finally:
            rig.stop()
    limit = line_limit()
    print(f"  receive, node streaming:  {rate:8.0f} B/s of the line's {limit:.0f} B/s, "
          f"ratio {rate / limit:.3f} (goal >= 0.90); {missed} bytes missed")
    report_keys("keystroke, idle node", keys, [(0.5, 10), (0.99, 50)])


def beside_bridge(build, driver):
    """Keystrokes through snbusd while a bridge on port 2 streams both ways."""
    with tempfile.TemporaryDirectory() as work:
        rig = Rig(build, work, through_daemon=True)
        stop = threading.Event()
        try:
            link = f"{work}/bridge2"
            rig.spawn("bridge", [f"{build}/snctl/snctl", "-p", rig.device, "bridge", "2",
                                 "-b", "230400", "--link", link])
            deadline = time.monotonic() + 10
            while not os.path.exists(link) and time.monotonic() < deadline:
                time.sleep(0.05)
            movers = [threading.Thread(target=stream_into, args=(raw(link), stop), daemon=True),
                      threading.Thread(target=drain, args=(raw(rig.instrument[1]), stop),
                                       daemon=True)]
            for mover in movers:
                mover.start()
            terminal_page(driver, rig)
            keys = measure_keys(driver, rig.instrument[0])
        finally:
            stop.set()
            rig.stop()
    report_keys("keystroke, bridge streaming beside it, through snbusd", keys, [(0.99, 30)])


def report_keys(what, latencies, goals):
    """Median and p99 against their limits."""
    if not latencies:
        print(f"  {what}: no key arrived")
        return
    parts = [f"{len(latencies)} of {KEYS} keys"]
    for share, limit in goals:
        value = percentile(latencies, share)
        name = "median" if share == 0.5 else f"p{int(share * 100)}"
        parts.append(f"{name} {value:.2f} ms, ratio to {limit} ms {value / limit:.2f}")
    parts.append(f"max {max(latencies):.2f} ms")
    print(f"  {what}: " + "; ".join(parts))


def main():
    """Both rigs in one browser."""
    build = sys.argv[1]
    driver = browser()
    try:
        print(f"snweb's browser terminal (headless Chromium), line timing at {BAUD}:")
        direct(build, driver)
        beside_bridge(build, driver)
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
