"""pyserial's own miniterm over sn://, in a tmux pane: what is typed goes
through the node's loopback port and comes back on the screen."""

import os
import shutil
import subprocess
import sys
import time

import pytest

pytestmark = pytest.mark.skipif(shutil.which("tmux") is None, reason="tmux is not installed")


class Pane:
    """A program in a detached tmux session on a server of its own."""

    def __init__(self, socket, command):
        self.socket = socket
        self.tmux("new-session", "-d", "-s", "t", "-x", "100", "-y", "20", command)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, *args], check=True, text=True,
                              capture_output=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t")

    def wait_for(self, text, seconds=10.0):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.screen():
                return True
            time.sleep(0.05)
        return False

    def alive(self):
        return subprocess.run(["tmux", "-L", self.socket, "has-session", "-t", "t"],
                              capture_output=True).returncode == 0

    def kill(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def test_miniterm_echoes_typed_text_through_a_loopback_port(start_sim, tmp_path):
    device = start_sim()
    environment = " ".join("%s=%s" % (name, os.environ.get(name, ""))
                           for name in ("LD_LIBRARY_PATH", "PYTHONPATH"))
    command = "env %s %s -m snlib -m serial.tools.miniterm 'sn://%s?port=0' 115200; sleep 5" % (
        environment, sys.executable, device)
    pane = Pane("snlib-test-%d" % os.getpid(), command)
    try:
        assert pane.wait_for("--- Miniterm on"), pane.screen()
        pane.tmux("send-keys", "-t", "t", "-l", "echo 4711 through the node")
        assert pane.wait_for("echo 4711 through the node"), pane.screen()
        pane.tmux("send-keys", "-t", "t", "C-]")
        assert pane.wait_for("--- exit ---"), pane.screen()
    finally:
        pane.kill()
