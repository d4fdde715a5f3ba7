"""The examples of docs/python.md, taken from the page and run against the
emulator as a user would run them."""

import csv
import os
import re
import subprocess
import sys

DOC = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "python.md")


def examples(directory):
    """Writes every '# file: NAME' block of the page to `directory`."""
    with open(DOC) as page:
        blocks = re.findall(r"```python\n# file: (\S+)\n(.*?)```", page.read(), re.S)
    for name, code in blocks:
        (directory / name).write_text(code)
    return {name for name, _ in blocks}


def run(*args):
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, timeout=60)


def test_the_analog_logger_writes_a_row_a_second(start_sim, tmp_path):
    assert "analog_logger.py" in examples(tmp_path)
    device = start_sim()
    result = run(str(tmp_path / "analog_logger.py"), device, str(tmp_path / "log.csv"), "2")
    assert result.returncode == 0, result.stderr
    with open(tmp_path / "log.csv") as log:
        rows = list(csv.reader(log))
    assert rows[0] == ["time"] + ["channel%d" % c for c in range(8)]
    assert len(rows) == 3
    assert all(0 <= int(value) <= 4095 for row in rows[1:] for value in row[1:])


def test_an_unchanged_pyserial_script_talks_to_the_instrument_on_port_1(start_sim, tmp_path):
    assert "ask_identity.py" in examples(tmp_path)
    instrument = "exec:stty raw -echo; read question; echo ACME meter 4711"
    device = start_sim("--port1", instrument)
    result = run("-m", "snlib", str(tmp_path / "ask_identity.py"), "sn://%s?port=1" % device)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "ACME meter 4711\n"
