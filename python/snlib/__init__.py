"""snlib: the sensor node from Python, over the C library libsnLib.so.0.

    import snlib
    with snlib.Node("/dev/ttyUSB0", slave=1) as node:
        print(node.serial_number, node.analogs())
        with node.port(1, baudrate=9600, timeout=1) as port:
            port.write(b"*IDN?\\r\\n")
            print(port.readline())

Importing snlib also teaches pyserial the URL ``sn://``:
``serial.serial_for_url("sn:///dev/ttyUSB0?slave=3&port=1", baudrate=19200)``
for a node on a serial device, ``sn://HOST:PORT?slave=3&port=1`` for one
behind snbusd.  Installed from the Debian package, pyserial finds the
handler without the import too.
"""

import serial

from .errors import ArgumentError, ClosedError, NodeError
from .node import Node
from .port import Port

__all__ = ["Node", "Port", "NodeError", "ClosedError", "ArgumentError"]

_HANDLERS = "snlib.urlhandler"
if _HANDLERS not in serial.protocol_handler_packages:
    serial.protocol_handler_packages.append(_HANDLERS)
