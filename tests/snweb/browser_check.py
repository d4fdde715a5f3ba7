"""A real browser on snweb's pages: headless Chromium driven by Selenium.

Run by snweb_e2e_test (which owns the emulated nodes and checks their log)
as: browser_check.py URL SNCTL TCP_NAME SCREENSHOT_DIR SERIALS ANALOG INSTRUMENT
where SERIALS and ANALOG are comma-separated; a shell is behind port 0 of
node alpha, and INSTRUMENT is the instrument's end of its port 1.  Prints one line per step
passed; exits non-zero with the reason at the first that fails.
"""
import json
import os
import select
import subprocess
import sys
import termios
import time
import tty
import urllib.parse

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.common.exceptions import StaleElementReferenceException, TimeoutException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait


def browser():
    """Headless Chromium as Debian ships it, the page's console recorded."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu",
                 "--disable-dev-shm-usage", "--window-size=1280,1400"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def fail(reason):
    """Ends the run with the reason."""
    print(f"FAILED: {reason}", flush=True)
    sys.exit(1)


def wait_for(driver, what, condition, seconds=5.0):
    """Waits until condition(driver) is true; fails naming `what` otherwise."""
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.05,
                             ignored_exceptions=[StaleElementReferenceException]).until(condition)
    except TimeoutException:
        console = driver.get_log("browser")
        fail(f"{what} within {seconds} s; the page: {driver.find_element(By.TAG_NAME, 'body').text!r}"
             f"; its console: {console}")
    return None


def checked(driver, test_id):
    """The aria-checked state of a switch, as the page shows it."""
    elements = driver.find_elements(By.CSS_SELECTOR, f'[data-testid="{test_id}"]')
    return elements[0].get_attribute("aria-checked") if elements else None


def snctl_revision(snctl, tcp_name):
    """The software revision as `snctl info` prints it for node alpha."""
    info = subprocess.run([snctl, "-p", tcp_name, "-a", "1", "info"], check=True,
                          capture_output=True, text=True, timeout=10).stdout
    for line in info.splitlines():
        if line.startswith("software revision: "):
            return line.split(": ", 1)[1]
    fail(f"no software revision in snctl info: {info!r}")
    return None


def check_login(driver, url, serials, shots, revision):
    """Without the token nothing; with it the overview lists the nodes,
    their software revision as snctl prints it."""
    base = url.split("?")[0]
    driver.get(base)
    text = driver.find_element(By.TAG_NAME, "body").text
    if "token" not in text or any(s in driver.page_source for s in serials):
        fail(f"the page without the token shows: {text!r}")
    if driver.find_elements(By.CSS_SELECTOR, '[data-testid^="node-"]'):
        fail("a node entry without the token")
    driver.save_screenshot(os.path.join(shots, "no-token.png"))
    # The console holds the 401 of this visit (and nothing else); read, it is gone.
    if any("401" not in entry["message"] for entry in driver.get_log("browser")):
        fail("errors in the console besides the refusal")
    print("without the token: refused", flush=True)
    driver.get(url)
    for name, serial in zip(("alpha", "beta"), serials):
        wait_for(driver, f"node-{name} with serial {serial}", lambda d, n=name, s=serial: any(
            s in e.text for e in d.find_elements(By.CSS_SELECTOR, f'[data-testid="node-{n}"]')))
    if "token=" in driver.current_url:
        fail("the token stays in the address bar")
    # Read at once: the rows are drawn afresh with each of the node's updates.
    cells = driver.execute_script(
        "return [...document.querySelector('[data-testid=\"node-alpha\"]').cells]"
        ".map(c => c.textContent);")
    if revision not in cells:
        fail(f"the overview shows alpha as {cells}, snctl its revision as {revision}")
    driver.save_screenshot(os.path.join(shots, "overview.png"))
    print(f"overview: both nodes with their serial numbers, revision {revision} as snctl's",
          flush=True)


def switch_words(driver):
    """Each switch's state as its text says it, checked against its colour's
    attribute, so a reader who cannot tell the colours reads the same."""
    words = []
    for o in range(4):
        button = driver.find_element(By.CSS_SELECTOR, f'[data-testid="power-alpha-{o}"]')
        text, state = button.text, button.get_attribute("aria-checked")
        if text not in (f"Output {o}: on", f"Output {o}: off") or text.endswith(
                ": on") != (state == "true"):
            fail(f"output {o} reads {text!r} with aria-checked {state}")
        words.append(text.rsplit(" ", 1)[1])
    return words


def check_switches(driver, base, snctl, tcp_name, shots, revision):
    """A click switches output 3; snctl beside the page shows within 2 s.
    The node's power vector reads 0x0003 whatever its coils: the switches
    show the coils, the vector is shown as the number it is.  The switches
    say on or off in words; the revision reads as snctl prints it."""
    driver.get(base + "/node/alpha")
    wait_for(driver, "power-alpha-3 read back off", lambda d: checked(d, "power-alpha-3") == "false")
    wait_for(driver, "the power vector shown as 0x0003", lambda d: "0x0003" in d.find_element(
        By.CSS_SELECTOR, '[data-testid="identity-alpha"]').text)
    if [checked(driver, f"power-alpha-{o}") for o in range(4)] != ["false"] * 4:
        fail("the switches show the power vector's bits, not the coils")
    if switch_words(driver) != ["off"] * 4:
        fail("the switches' words are not all off")
    shown = driver.execute_script(
        "const terms = [...document.querySelectorAll('[data-testid=\"identity-alpha\"] dt')];"
        "return terms.find(t => t.textContent === 'Software revision')"
        ".nextElementSibling.textContent;")
    if shown != revision:
        fail(f"the node's page shows the revision as {shown!r}, snctl as {revision}")
    driver.find_element(By.CSS_SELECTOR, '[data-testid="power-alpha-3"]').click()
    wait_for(driver, "power-alpha-3 read back on", lambda d: checked(d, "power-alpha-3") == "true")
    print("power-alpha-3: clicked, reads back on", flush=True)
    subprocess.run([snctl, "-p", tcp_name, "-a", "1", "power", "2", "on"], check=True,
                   stdout=subprocess.DEVNULL, timeout=10)
    started = time.monotonic()
    wait_for(driver, "power-alpha-2 on after snctl", lambda d: checked(d, "power-alpha-2") == "true",
             seconds=2.0)
    print(f"snctl power 2 on: shown after {time.monotonic() - started:.2f} s", flush=True)
    shown = [checked(driver, f"power-alpha-{o}") for o in range(4)]
    if shown != ["false", "false", "true", "true"]:
        fail(f"the switches show {shown}, the coils are off, off, on, on")
    if switch_words(driver) != ["off", "off", "on", "on"]:
        fail("the switches' words are not off, off, on, on")
    note = driver.find_element(By.CSS_SELECTOR, '[data-testid="parms-note-alpha"]')
    if not note.is_displayed() or "two" not in note.text or "node" not in note.text:
        fail(f"the parameter words are explained as {note.text!r}")
    print("switches: the coils in colour and in words, with the power vector 0x0003 beside them",
          flush=True)
    driver.save_screenshot(os.path.join(shots, "node.png"))


def check_plot(driver, analog):
    """The newest plotted readings are the node's; pause holds the chart."""
    expected = [int(v) for v in analog]
    shown = wait_for(driver, "readings in the plot", lambda d: d.execute_script(
        "return window.snweb && window.snweb.plotShown().points > 2 && window.snweb.plotShown();"))
    if shown["latest"][1:] != expected:
        fail(f"plot's latest readings {shown['latest'][1:]} are not the node's {expected}")
    print("plot: latest readings equal the node's", flush=True)
    driver.find_element(By.CSS_SELECTOR, '[data-testid="pause-alpha"]').click()
    paused = driver.execute_script("return window.snweb.plotShown();")
    time.sleep(1.0)
    still = driver.execute_script("return window.snweb.plotShown();")
    if still != paused:
        fail(f"the plot moved while paused: {paused['points']} then {still['points']} readings")
    driver.find_element(By.CSS_SELECTOR, '[data-testid="pause-alpha"]').click()
    wait_for(driver, "the plot moving again after resume", lambda d: d.execute_script(
        "return window.snweb.plotShown().points;") > still["points"])
    print("plot: pause holds it, resume moves it", flush=True)
    csv = driver.execute_async_script(
        "const done = arguments[0];"
        "fetch('/api/node/alpha/window.csv').then(r => r.text()).then(done);")
    last = csv.strip().split("\n")[-1].split(",")
    if [int(v) for v in last[1:]] != expected:
        fail(f"the CSV's last line {last} does not hold the node's readings")
    print("CSV: holds the readings", flush=True)


def screen_has(text):
    """A condition: the terminal's screen shows `text`."""
    return lambda d: text in (d.execute_script("return window.snweb && window.snweb.screen();") or "")


def open_terminal(driver, base, port, node="alpha"):
    """The terminal page of a node's port, its socket live."""
    driver.get(f"{base}/node/{node}/port/{port}")
    wait_for(driver, f"the terminal on port {port} live", lambda d: d.find_element(
        By.CSS_SELECTOR, f'[data-testid="terminal-state-{node}-{port}"]').text == "live")
    driver.find_element(By.CSS_SELECTOR, f'[data-testid="terminal-{node}-{port}"]')


def check_port_page(driver, base, shots):
    """The port page: the node page's last outcome stays there, each line
    control has its label, and the error flags read once a terminal is on it."""
    open_terminal(driver, base, 0)
    outcome = driver.find_element(By.CSS_SELECTOR, '[data-testid="outcome-alpha-0"]')
    time.sleep(0.5)  # a few of the node's updates, any of which could carry it over
    if outcome.text:
        fail(f"the port page shows the outcome {outcome.text!r} it never asked for")
    unlabelled = driver.execute_script(
        "return [...document.querySelectorAll('main input, main select')]"
        ".filter(c => c.labels.length === 0 || !c.labels[0].innerText.trim())"
        ".map(c => c.outerHTML);")
    if unlabelled:
        fail(f"controls without a label: {unlabelled}")
    labels = [label.text.split("\n")[0] for label in driver.find_elements(
        By.CSS_SELECTOR, "main label")]
    for wanted in ("Speed (bit/s)", "Parity", "Stop bits", "Break length (ms)"):
        if not any(label.startswith(wanted) for label in labels):
            fail(f"no label {wanted!r} among {labels}")
    flags = '[data-testid="flags-alpha-0"]'
    wait_for(driver, "the error flags read", lambda d: d.find_element(
        By.CSS_SELECTOR, flags).text.startswith("0x"), seconds=10)
    driver.save_screenshot(os.path.join(shots, "port-controls.png"))
    print(f"port page: no outcome of the node's, labels {labels}, error flags "
          f"{driver.find_element(By.CSS_SELECTOR, flags).text}", flush=True)


def check_shell(driver, base, shots):
    """Keys typed into the page reach the shell; two tabs see its output."""
    open_terminal(driver, base, 0)
    first = driver.current_window_handle
    driver.find_element(By.CSS_SELECTOR, '[data-testid="terminal-alpha-0"] textarea').send_keys(
        "echo hi-$((6*7))\n")
    wait_for(driver, "hi-42 on the screen", screen_has("\nhi-42"))
    print("terminal: echo hi-$((6*7)) shows hi-42", flush=True)
    driver.save_screenshot(os.path.join(shots, "terminal.png"))
    driver.switch_to.new_window("tab")
    open_terminal(driver, base, 0)
    driver.execute_script("window.snweb.type('echo two-$((5+5))\\r');")
    wait_for(driver, "two-10 in the second tab", screen_has("\ntwo-10"))
    driver.close()
    driver.switch_to.window(first)
    wait_for(driver, "two-10 in the first tab too", screen_has("\ntwo-10"))
    print("terminal: two tabs both see the output", flush=True)


def page_hash(data):
    """The page's hook's hash of `data`."""
    value = 0
    for byte in data:
        value = (value * 31 + byte) & 0xFFFFFFFF
    return value


def set_line(driver, speed):
    """The port's line set from the page's controls."""
    field = driver.find_element(By.XPATH, '//label[starts-with(., "Speed")]//input')
    field.clear()
    field.send_keys(str(speed))
    driver.find_element(By.XPATH, '//button[text()="Set line"]').click()
    wait_for(driver, "the line change done", lambda d: d.find_element(
        By.CSS_SELECTOR, "p.outcome").text.endswith(f"line {speed} N1: done"))


def write_all(fd, data):
    """All of `data` into the instrument's end, however little it takes at once."""
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view[:4096]):]


def check_bytes(driver, base, instrument):
    """64 KiB of every byte value in order; a character split between reads."""
    open_terminal(driver, base, 1)
    set_line(driver, 230400)
    fd = os.open(instrument, os.O_RDWR | os.O_NOCTTY)
    try:
        tty.setraw(fd)
        termios.tcflush(fd, termios.TCIOFLUSH)
        driver.execute_script("window.snweb.terminal.reset();")
        data = bytes(range(256)) * 256
        write_all(fd, data)
        got = wait_for(driver, "64 KiB in the page", lambda d: d.execute_script(
            "const t = window.snweb.terminal;"
            "return t.received >= 65536 && {received: t.received, hash: t.hash, missed: t.missed};"),
            seconds=30)
        if got != {"received": len(data), "hash": page_hash(data), "missed": 0}:
            fail(f"the page got {got}, not 65536 bytes hashing to {page_hash(data)}")
        print("terminal: 64 KiB of all byte values arrived in order", flush=True)
        write_all(fd, b"\r\n\xc3")  # the first half of an e with an acute accent
        time.sleep(0.5)
        write_all(fd, b"\xa9t\xc3\xa9!\r\n")
        wait_for(driver, "a split UTF-8 character shown whole", screen_has("\u00e9t\u00e9!"))
        print("terminal: a UTF-8 character split between reads shows right", flush=True)
    finally:
        os.close(fd)


def check_paste(driver, instrument):
    """A paste larger than snweb's largest message goes out in pieces, whole."""
    fd = os.open(instrument, os.O_RDWR | os.O_NOCTTY)
    try:
        tty.setraw(fd)
        termios.tcflush(fd, termios.TCIOFLUSH)
        paste = "".join(chr(ord("a") + i % 26) for i in range(70000))
        driver.execute_script("window.snweb.type(arguments[0]);", paste)
        got = bytearray()
        quiet_since = time.monotonic()
        while len(got) < len(paste) and time.monotonic() - quiet_since < 10:
            ready, _, _ = select.select([fd], [], [], 0.2)
            if ready:
                got += os.read(fd, 65536)
                quiet_since = time.monotonic()
        if bytes(got) != paste.encode():
            fail(f"a paste of {len(paste)} bytes put {len(got)} at the instrument")
        print(f"terminal: a paste of {len(paste)} bytes arrived whole", flush=True)
    finally:
        os.close(fd)


def check_console(driver):
    """No JavaScript error on any page, and no request refused: not even
    for an icon the pages never had."""
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"
              or "404" in entry["message"]]
    if errors:
        fail(f"{len(errors)} errors in the browser's console, the first: {json.dumps(errors[:3])}")
    print("console: no errors", flush=True)


def main():
    """Every step in turn, in one browser."""
    started = time.monotonic()
    print_step = print

    def timed(*args, **kwargs):
        print_step(f"[{time.monotonic() - started:5.1f} s]", *args, **kwargs)
    globals()["print"] = timed
    url, snctl, tcp_name, shots, serials, analog, instrument = sys.argv[1:8]
    os.makedirs(shots, exist_ok=True)
    base = urllib.parse.urlunsplit(urllib.parse.urlsplit(url)._replace(path="", query=""))
    driver = browser()
    try:
        revision = snctl_revision(snctl, tcp_name)
        check_login(driver, url, serials.split(","), shots, revision)
        check_switches(driver, base, snctl, tcp_name, shots, revision)
        check_plot(driver, analog.split(","))
        check_port_page(driver, base, shots)
        check_shell(driver, base, shots)
        check_bytes(driver, base, instrument)
        check_paste(driver, instrument)
        driver.save_screenshot(os.path.join(shots, "port.png"))
        check_console(driver)
    finally:
        driver.quit()
    print("PASSED", flush=True)


if __name__ == "__main__":
    main()
