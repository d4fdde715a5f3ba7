"""snlib.Node: one sensor node, every node function of the library."""

import ctypes
import errno
import os
import threading
import weakref

from . import _arguments as arguments
from . import _library as lib
from ._handle import Handle
from ._holder import holder_sentence
from .errors import ArgumentError, DeviceBusyError, NodeError, NothingListensError, check


def _on_off(on):
    return "on" if on else "off"


class Node:
    """A sensor node at slave address `slave` on `device`.

    `device` is a serial device (``/dev/ttyUSB0``) reached at Modbus line
    speed `speed`, or ``tcp:HOST:PORT`` for a node behind snbusd (the speed
    is then not used).  Opening succeeds once the device is open; a node
    that does not answer fails the first call that needs it.  Opening the
    same device and slave twice shares one link.

    Use it with ``with`` or call close().  Failures raise NodeError (an
    OSError with the library's errno), bad arguments ArgumentError (a
    ValueError, errno EINVAL) before any traffic.  Calls from several
    threads are safe: the library makes one Modbus transaction at a time.
    """

    def __init__(self, device, slave=1, speed=115200):
        device = os.fsdecode(device) if isinstance(device, (bytes, os.PathLike)) else device
        if not isinstance(device, str) or not device or "\0" in device:
            raise ArgumentError("device must be a device name or tcp:HOST:PORT, not %r" % (device,))
        slave = arguments.integer(slave, lib.MIN_SLAVE, lib.MAX_SLAVE, "slave address")
        speed = arguments.integer(speed, 1, 2**31 - 1, "line speed")
        if not device.startswith("tcp:") and speed not in lib.LINE_SPEEDS:
            raise ArgumentError("line speed %d is not one the serial driver can set" % speed)
        self.device, self.slave, self.speed = device, slave, speed
        what = "cannot open node %d on %s at %d bit/s" % (slave, device, speed)
        pointer, error = lib.call("openSensorNode", os.fsencode(device), speed, slave)
        if not pointer:
            # Another master on the bus: say who, and the way through it.
            if error == errno.EBUSY:
                raise DeviceBusyError(holder_sentence(device))
            if error == errno.ECONNREFUSED and device.startswith("tcp:"):
                raise NothingListensError(device[len("tcp:"):])
            raise NodeError(what, error)
        self._handle = Handle(pointer, "the node")
        self._ports = weakref.WeakSet()
        self._ports_lock = threading.Lock()

    def __repr__(self):
        state = "open" if self._handle.is_open else "closed"
        return "snlib.Node(%r, slave=%d) <%s>" % (self.device, self.slave, state)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        # A node dropped without close() gives its entry of the library's
        # table of 16 back.
        try:
            self.close()
        except Exception:
            pass

    @property
    def closed(self):
        """True once close() has run."""
        return not self._handle.is_open

    def close(self):
        """Closes the node's ports opened through port(), then the node.
        A second close does nothing."""
        with self._ports_lock:
            ports = list(self._ports)
        for port in ports:
            port.close()
        pointer = self._handle.take()
        if pointer is not None:
            lib.call("closeSensorNode", pointer)

    # -- plumbing ----------------------------------------------------------

    def _status(self, what, name, *args):
        """One status call of the library; NodeError on -1."""
        with self._handle.use(what) as pointer:
            status, error = lib.call(name, pointer, *args)
        return check(status, error, what, self.slave)

    def _read_word(self, what, name):
        value = ctypes.c_uint16()
        self._status(what, name, ctypes.byref(value))
        return value.value

    def _link_timeout(self, name):
        value = lib.Timeval()
        with self._handle.use("cannot read the link timeout") as pointer:
            getattr(lib.library(), name)(pointer, ctypes.byref(value))
        return value.tv_sec + value.tv_usec / 1e6

    def _set_link_timeout(self, name, value, low, label):
        value = arguments.seconds(value, low, 86400.0, label)
        whole = int(value)
        micro = min(int(round((value - whole) * 1e6)), 999999)
        if whole == 0 and micro == 0 and low > 0:
            micro = 1
        timeval = lib.Timeval(whole, micro)
        with self._handle.use("cannot set the " + label) as pointer:
            getattr(lib.library(), name)(pointer, ctypes.byref(timeval))

    # -- identity and configuration ------------------------------------------

    @property
    def serial_number(self):
        """The node's serial number (register word)."""
        return self._read_word("cannot read serial number", "snGetSerialNum")

    @property
    def software_revision(self):
        """The node's software revision (register word)."""
        return self._read_word("cannot read software revision", "snGetSoftwareRev")

    @property
    def board_config(self):
        """Board configuration, 32 bits: register 17 high, 18 low."""
        value = ctypes.c_uint32()
        self._status("cannot read board configuration", "snGetBoardConfig", ctypes.byref(value))
        return value.value

    @property
    def hardware_config(self):
        """Hardware configuration word."""
        return self._read_word("cannot read hardware configuration", "snGetHwConfig")

    @property
    def power_vector(self):
        """The power vector word."""
        return self._read_word("cannot read power vector", "snGetPowerVector")

    @property
    def device_timeout(self):
        """The node's own Modbus timeout register (settable, 20 to 65535)."""
        return self._read_word("cannot read device timeout", "getSensorNodeModbusTimeout")

    @device_timeout.setter
    def device_timeout(self, value):
        value = arguments.integer(value, lib.MIN_DEVICE_TIMEOUT, 0xFFFF, "device timeout")
        self._status("cannot set device timeout", "setSensorNodeModbusTimeout", value)

    @property
    def response_timeout(self):
        """How long a request waits for the node's answer, in seconds (settable).
        Set the link timeouts before sharing the node among threads: the
        library changes them without its lock."""
        return self._link_timeout("snModbusGetResponseTimeout")

    @response_timeout.setter
    def response_timeout(self, value):
        self._set_link_timeout("snModbusSetResponseTimeout", value, 1e-6, "response timeout")

    @property
    def byte_timeout(self):
        """The longest gap inside an answer, in seconds (settable; 0 = none)."""
        return self._link_timeout("snModbusGetByteTimeout")

    @byte_timeout.setter
    def byte_timeout(self, value):
        self._set_link_timeout("snModbusSetByteTimeout", value, 0.0, "byte timeout")

    # -- power, analog, configuration coils ----------------------------------

    def power(self, output):
        """True when power output 0-3 is on."""
        output = arguments.integer(output, 0, lib.POWER_OUTPUTS - 1, "power output")
        return self._status("cannot read power output %d" % output, "snPowerIsOn", output) == 1

    def set_power(self, output, on):
        """Switches power output 0-3 on (true) or off."""
        output = arguments.integer(output, 0, lib.POWER_OUTPUTS - 1, "power output")
        what = "cannot switch power output %d %s" % (output, _on_off(on))
        self._status(what, "snPower", output, 1 if on else 0)

    def analog(self, channel):
        """The value of analog channel 0-7."""
        channel = arguments.integer(channel, 0, lib.ANALOG_CHANNELS - 1, "channel")
        value = ctypes.c_uint16()
        self._status("cannot read analog channel %d" % channel, "snAnalogChan", channel,
                     ctypes.byref(value))
        return value.value

    def analogs(self):
        """The values of all eight analog channels, in one transaction."""
        values = (ctypes.c_uint16 * lib.ANALOG_CHANNELS)()
        self._status("cannot read analog channels", "snAnalogChans", 0, lib.ANALOG_CHANNELS, values)
        return list(values)

    def analog_params(self, channel):
        """The two parameter words (a, b) of analog channel 0-7."""
        channel = arguments.integer(channel, 0, lib.ANALOG_CHANNELS - 1, "channel")
        words = (ctypes.c_uint16 * 2)()
        self._status("cannot read analog parameters", "snGetAnalogParms", channel, 1, words)
        return words[0], words[1]

    def set_analog_params(self, channel, a, b):
        """Writes the two parameter words of analog channel 0-7."""
        channel = arguments.integer(channel, 0, lib.ANALOG_CHANNELS - 1, "channel")
        words = (ctypes.c_uint16 * 2)(arguments.word(a, "parameter word"),
                                      arguments.word(b, "parameter word"))
        self._status("cannot write analog parameters", "snSetAnalogParms", channel, 1, words)

    def blink(self, pattern):
        """Blink pattern 0 (off), 1 or 2."""
        pattern = arguments.integer(pattern, 0, 2, "blink pattern")
        self._status("cannot set blink pattern %d" % pattern, "snBlinky", pattern)

    def set_dc_always_on(self, on):
        """Switches DC always on on (true) or off."""
        self._status("cannot switch DC always on " + _on_off(on), "snSetDCAlwaysOn", 1 if on else 0)

    def reset_config_mode(self):
        """Triggers the node's configuration reset."""
        self._status("cannot trigger configuration reset", "snResetConfigMode")

    # -- virtual ports -------------------------------------------------------

    def port(self, number, **settings):
        """Opens virtual port 0-2 as a pyserial port (snlib.Port), its line
        set from `settings` (baudrate=9600, parity, stopbits, timeout, ...).
        Closing the node closes it too."""
        from .port import Port

        number = arguments.integer(number, 0, lib.PORTS - 1, "virtual port")
        port = Port(self, number, **settings)
        with self._ports_lock:
            self._ports.add(port)
        return port

    def _use(self, what):
        """The node's pointer for a port's open (ClosedError when closed)."""
        return self._handle.use(what)
