"""snlib.Port: a node's virtual port with pyserial's interface."""

import ctypes
import threading

import serial
from serial.serialutil import PortNotOpenError, SerialBase, SerialTimeoutException, Timeout

from . import _arguments as arguments
from . import _library as lib
from ._handle import Handle
from .errors import NodeError, check

# A read that finds nothing waits this long before asking the node again
# (as often as snterm asks), or less on a line fast enough to bring a
# whole block in that time, so the node's receive buffer never overflows.
POLL_SECONDS = 0.02
BITS_PER_BYTE = 10
# Bytes handed to the library per write call: one block, so a write timeout,
# a cancel and a reader waiting for the library get their turn between blocks.
WRITE_PIECE = lib.BLOCK_BYTES
# What flush() waits for the node to send everything, without a write timeout.
DEFAULT_DRAIN_SECONDS = 60.0

_PARITY_LETTERS = {serial.PARITY_NONE: b"N", serial.PARITY_EVEN: b"E", serial.PARITY_ODD: b"O"}


class Port(SerialBase):
    """Virtual port `number` of an open snlib.Node, as a pyserial port.

    Opened by Node.port(); the line (baudrate, parity N/E/O, stopbits 1 or
    2, bytesize 8) goes to the node at open and at every change.  Other
    settings raise ValueError as pyserial's own ports do.  read() honours
    `timeout` (None waits for all, 0 returns what is there) and
    `inter_byte_timeout`; write() sends all of the data at the port's pace,
    or raises SerialTimeoutException after `write_timeout`.  Failures of
    the node raise NodeError (a SerialException, so an OSError).
    """

    def __init__(self, node, number, *args, **kwargs):
        self._node = node
        self._number = number
        self._handle = None
        self._pending = bytearray()
        self._rx_lock = threading.Lock()
        self._cancel_read = threading.Event()
        self._cancel_write = threading.Event()
        if node is not None and not args:
            kwargs.setdefault("port", "%s[%d] port %d" % (node.device, node.slave, number))
        super().__init__(*args, **kwargs)

    @property
    def number(self):
        """The virtual port number, 0 to 2."""
        return self._number

    # -- open and close ---------------------------------------------------------

    def open(self):
        """Opens the port (its transmit enable on) and sets its line."""
        if self.is_open:
            raise serial.SerialException("Port is already open.")
        self._check_settings()  # refused before any traffic
        what = "cannot open virtual port %d" % self._number
        with self._node._use(what) as node_pointer:
            pointer, error = lib.call("snOpenSerial", node_pointer, self._number)
        if not pointer:
            raise NodeError(what, error, self._node.slave)
        self._cancel_read.clear()
        self._cancel_write.clear()
        self._handle = Handle(pointer, "the port")
        self.is_open = True
        try:
            self._reconfigure_port()
            self.reset_input_buffer()
        except BaseException:
            self.close()
            raise

    def close(self):
        """Closes the port: transmit enable off once its last opener closes.
        Bytes the node has taken are still sent."""
        self.is_open = False
        self.cancel_read()
        self.cancel_write()
        handle, self._handle = self._handle, None
        pointer = handle.take() if handle is not None else None
        if pointer is not None:
            lib.call("snCloseSerial", pointer)

    def _call(self, what, name, *args):
        """One call of the library with the port's pointer: (result, errno)."""
        handle = self._handle
        if handle is None:
            raise PortNotOpenError()
        with handle.use(what) as pointer:
            return lib.call(name, pointer, *args)

    def _status(self, what, name, *args):
        return check(*self._call(what, name, *args), what, self._node.slave)

    # -- line settings -------------------------------------------------------

    def _reconfigure_port(self, force_update=False):
        """Checks the settings and writes the line to the node."""
        self._check_settings()
        if not self.is_open:
            return
        self._status("cannot set the line of virtual port %d" % self._number, "snSerInit",
                     self._baudrate, _PARITY_LETTERS[self._parity], int(self._stopbits))

    def _check_settings(self):
        """ValueError, as pyserial's ports give, for what the node cannot do."""
        if self._bytesize != serial.EIGHTBITS:
            raise ValueError("Invalid char len: %r (the node sends 8 data bits)" % self._bytesize)
        if self._parity not in _PARITY_LETTERS:
            raise ValueError("Invalid parity: %r (the node has N, E and O)" % self._parity)
        if self._stopbits not in (serial.STOPBITS_ONE, serial.STOPBITS_TWO):
            raise ValueError("Invalid stop bits: %r (the node has 1 and 2)" % self._stopbits)
        if not lib.MIN_PORT_SPEED <= self._baudrate <= lib.MAX_PORT_SPEED:
            raise ValueError("Invalid baud rate: %r (the node runs %d to %d)"
                             % (self._baudrate, lib.MIN_PORT_SPEED, lib.MAX_PORT_SPEED))
        if self._xonxoff or self._rtscts or self._dsrdtr:
            raise ValueError("Invalid flow control: the node's ports have none")

    # The node has no modem lines: RTS and DTR go nowhere, as on loop://.
    def _update_rts_state(self):
        pass

    def _update_dtr_state(self):
        pass

    def _update_break_state(self):
        if self._break_state:
            raise ValueError("the node cannot hold a break: use send_break(duration)")

    @property
    def cts(self):
        return True

    @property
    def dsr(self):
        return True

    @property
    def ri(self):
        return False

    @property
    def cd(self):
        return False

    # -- receiving -------------------------------------------------------------

    def _fetch(self, count):
        """What the port has now, up to `count` bytes, without waiting."""
        with self._rx_lock:
            if self._pending:
                data = bytes(self._pending[:count])
                del self._pending[:count]
                return data
            buffer = ctypes.create_string_buffer(count)
            what = "cannot read virtual port %d" % self._number
            got, error = self._call(what, "snSerRead", buffer, count)
            if got == 0 and error != 0:
                raise NodeError(what, error, self._node.slave)
            return buffer.raw[:got]

    @property
    def in_waiting(self):
        """Bytes received and not yet read (asks the node when none are kept)."""
        if not self.is_open:
            raise PortNotOpenError()
        with self._rx_lock:
            kept = len(self._pending) + self._call("in_waiting", "snSerRxCount")[0]
        if kept:
            return kept
        more = self._fetch(lib.BLOCK_BYTES)
        with self._rx_lock:
            self._pending[:0] = more
            return len(self._pending)

    def read(self, size=1):
        """Reads up to `size` bytes: all of them, or fewer once `timeout`
        (or `inter_byte_timeout` after the first byte) has passed."""
        if not self.is_open:
            raise PortNotOpenError()
        size = arguments.integer(size, 0, 2**31 - 1, "read size")
        data = bytearray()
        timeout = Timeout(self._timeout)
        gap = None
        while len(data) < size:
            got = self._fetch(min(size - len(data), 16 * lib.BLOCK_BYTES))
            if got:
                data += got
                if self._inter_byte_timeout is not None:
                    gap = Timeout(self._inter_byte_timeout)
                continue
            if timeout.expired() or (gap is not None and gap.expired()):
                break
            wait = min(POLL_SECONDS, lib.BLOCK_BYTES * BITS_PER_BYTE / self._baudrate)
            for left in (timeout.time_left(), gap.time_left() if gap else None):
                if left is not None:
                    wait = min(wait, left)
            if self._cancel_read.wait(wait):
                self._cancel_read.clear()
                break
        return bytes(data)

    def cancel_read(self):
        """Ends a read() waiting in another thread, with what it has."""
        self._cancel_read.set()

    def reset_input_buffer(self):
        """Drops what the port has received, on the node too."""
        with self._rx_lock:
            self._pending.clear()
            self._status("cannot flush the input of virtual port %d" % self._number, "snSerIFlush")

    # -- sending -------------------------------------------------------------

    def write(self, data):
        """Sends all of `data` at the port's pace; returns its length.

        With `write_timeout` 0 it returns what the node took at once; with
        a write timeout it raises SerialTimeoutException when that passes.
        """
        if not self.is_open:
            raise PortNotOpenError()
        data = serial.to_bytes(data)
        buffer = ctypes.create_string_buffer(data, len(data))
        timeout = Timeout(self._write_timeout)
        self._cancel_write.clear()
        sent = 0
        while sent < len(data):
            piece = min(len(data) - sent, WRITE_PIECE)
            what = "cannot write to virtual port %d" % self._number
            took, error = self._call(what, "snSerWrite", ctypes.byref(buffer, sent), piece)
            sent += took
            if took < piece and error != 0:
                raise NodeError("virtual port %d took only %d of %d bytes"
                                % (self._number, sent, len(data)), error)
            if sent == len(data) or timeout.is_non_blocking or self._cancel_write.is_set():
                break
            if timeout.expired():
                raise SerialTimeoutException("Write timeout")
        return sent

    def cancel_write(self):
        """Ends a write() running in another thread after its current piece."""
        self._cancel_write.set()

    @property
    def out_waiting(self):
        """Always 0: write() returns once the node has taken every byte."""
        return 0

    def flush(self):
        """Waits until the node has sent everything (up to `write_timeout`, or
        a minute); port 0 reports no busy state, so its flush returns at once."""
        if not self.is_open:
            raise PortNotOpenError()
        seconds = self._write_timeout if self._write_timeout else DEFAULT_DRAIN_SECONDS
        budget = max(1, int(seconds * 100 + 0.999))
        self._status("cannot drain virtual port %d" % self._number, "snSerDrain", budget)

    def reset_output_buffer(self):
        """Drops what the node still has to send."""
        self._status("cannot flush the output of virtual port %d" % self._number, "snSerOFlush")

    # -- the port's error flags ------------------------------------------------

    @property
    def error_flags(self):
        """The port's error flag word as the node reports it (bit 1 is
        commonly a receive overrun: bytes lost for want of a reader)."""
        flags = ctypes.c_uint16()
        self._status("cannot read the error flags of virtual port %d" % self._number,
                     "snSerGetErrFlags", ctypes.byref(flags))
        return flags.value

    def clear_error_flags(self, mask=0x1F):
        """Clears the error flags in `mask` (bits 0 to 4)."""
        mask = arguments.integer(mask, 0, 0x1F, "error mask")
        self._status("cannot clear the error flags of virtual port %d" % self._number,
                     "snSerClearErrFlags", mask)

    def send_break(self, duration=0.25):
        """Holds a break condition on the port for `duration` seconds (up to 65.5)."""
        if not self.is_open:
            raise PortNotOpenError()
        ms = int(round(arguments.seconds(duration, 0.0, 65.535, "break duration") * 1000))
        self._status("cannot send a break on virtual port %d" % self._number, "snSerBreak", ms)
