"""A real browser on snweb's pages: headless Chromium driven by Selenium.

Run by snweb_e2e_test (which owns the emulated nodes and checks their log)
as: browser_check.py URL SNCTL TCP_NAME SCREENSHOT_DIR SERIALS ANALOG
where SERIALS and ANALOG are comma-separated.  Prints one line per step
passed; exits non-zero with the reason at the first that fails.
"""
import json
import os
import subprocess
import sys
import time
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


def check_login(driver, url, serials, shots):
    """Without the token nothing; with it the overview lists the nodes."""
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
    driver.save_screenshot(os.path.join(shots, "overview.png"))
    print("overview: both nodes with their serial numbers", flush=True)


def check_switches(driver, base, snctl, tcp_name, shots):
    """A click switches output 3; snctl beside the page shows within 2 s."""
    driver.get(base + "/node/alpha")
    wait_for(driver, "power-alpha-3 read back off", lambda d: checked(d, "power-alpha-3") == "false")
    driver.find_element(By.CSS_SELECTOR, '[data-testid="power-alpha-3"]').click()
    wait_for(driver, "power-alpha-3 read back on", lambda d: checked(d, "power-alpha-3") == "true")
    print("power-alpha-3: clicked, reads back on", flush=True)
    subprocess.run([snctl, "-p", tcp_name, "-a", "1", "power", "2", "on"], check=True,
                   stdout=subprocess.DEVNULL, timeout=10)
    started = time.monotonic()
    wait_for(driver, "power-alpha-2 on after snctl", lambda d: checked(d, "power-alpha-2") == "true",
             seconds=2.0)
    print(f"snctl power 2 on: shown after {time.monotonic() - started:.2f} s", flush=True)
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


def check_console(driver):
    """No JavaScript error on any page."""
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"
              and "/favicon.ico" not in entry["message"]]
    if errors:
        fail(f"errors in the browser's console: {json.dumps(errors)}")
    print("console: no errors", flush=True)


def main():
    """Every step in turn, in one browser."""
    url, snctl, tcp_name, shots, serials, analog = sys.argv[1:7]
    os.makedirs(shots, exist_ok=True)
    base = urllib.parse.urlunsplit(urllib.parse.urlsplit(url)._replace(path="", query=""))
    driver = browser()
    try:
        check_login(driver, url, serials.split(","), shots)
        check_switches(driver, base, snctl, tcp_name, shots)
        check_plot(driver, analog.split(","))
        driver.get(base + "/node/alpha/port/1")
        wait_for(driver, "the port page", lambda d: "port 1" in d.find_element(By.TAG_NAME, "h1").text)
        driver.save_screenshot(os.path.join(shots, "port.png"))
        check_console(driver)
    finally:
        driver.quit()
    print("PASSED", flush=True)


if __name__ == "__main__":
    main()
