"""pyserial's handler for sn:// URLs: a virtual port of a sensor node.

    sn:///dev/ttyUSB0?slave=3&port=1&speed=115200   a node on a serial device
    sn://HOST:PORT?slave=3&port=1                    a node behind snbusd

`slave` defaults to 1, `port` (the virtual port) to 0 and `speed` (the
Modbus line speed of a serial device) to 115200.  baudrate, parity and the
rest are serial_for_url's own arguments and set the virtual port's line.
"""

import urllib.parse

import serial

from snlib import _arguments as arguments
from snlib import _library as lib
from snlib.errors import ArgumentError
from snlib.node import Node
from snlib.port import Port

FORM = "sn:///DEVICE?slave=S&port=P&speed=N or sn://HOST:PORT?slave=S&port=P"


def parse_url(url):
    """(device, slave, port, speed) of an sn:// URL; ArgumentError when malformed."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme.lower() != "sn":
        raise ArgumentError("expected %s, not %r" % (FORM, url))
    if parts.netloc:
        try:
            has_port = parts.port is not None and parts.hostname
        except ValueError:
            has_port = False
        if not has_port or parts.path not in ("", "/"):
            raise ArgumentError("expected %s, not %r" % (FORM, url))
        device = "tcp:" + parts.netloc
    elif parts.path.startswith("/"):
        device = urllib.parse.unquote(parts.path)
    else:
        raise ArgumentError("expected %s, not %r" % (FORM, url))
    options = {"slave": "1", "port": "0", "speed": "115200"}
    for name, values in urllib.parse.parse_qs(parts.query, keep_blank_values=True).items():
        if name not in options:
            raise ArgumentError("unknown option %r in %r (expected %s)" % (name, url, FORM))
        options[name] = values[-1]
    slave = arguments.integer(_number(options["slave"]), lib.MIN_SLAVE, lib.MAX_SLAVE, "slave")
    port = arguments.integer(_number(options["port"]), 0, lib.PORTS - 1, "port")
    speed = arguments.integer(_number(options["speed"]), 1, 2**31 - 1, "speed")
    return device, slave, port, speed


def _number(text):
    return int(text) if text.isdigit() else text


class Serial(Port):
    """A virtual port named by an sn:// URL; it opens its own node link."""

    def __init__(self, *args, **kwargs):
        super().__init__(None, 0, *args, **kwargs)

    def open(self):
        if self.is_open:
            raise serial.SerialException("Port is already open.")
        if self._port is None:
            raise serial.SerialException("Port must be configured before it can be used.")
        device, slave, self._number, speed = parse_url(self._port)
        self._check_settings()
        self._node = Node(device, slave, speed)
        try:
            super().open()
        except BaseException:
            self._node.close()
            raise

    def close(self):
        super().close()
        node, self._node = self._node, None
        if node is not None:
            node.close()
