"""Failures of the node and of its ports, in the words snctl prints.

A failed library call becomes a NodeError: an OSError (through pyserial's
SerialException, so serial programs catch it as they catch their own
ports' failures) with the errno the library set and a sentence saying what
failed and why.
"""

import errno as _errno

import serial

from . import _library

_MODBUS_BASE = 112345678
EMBXGPATH = _MODBUS_BASE + 10
EMBXGTAR = _MODBUS_BASE + 11
EMBBADCRC = _MODBUS_BASE + 12
EMBBADDATA = _MODBUS_BASE + 13
EMBBADEXC = _MODBUS_BASE + 14
EMBUNKEXC = _MODBUS_BASE + 15
EMBMDATA = _MODBUS_BASE + 16
EMBBADSLAVE = _MODBUS_BASE + 17
_NODE_EXCEPTIONS = range(_MODBUS_BASE + 1, _MODBUS_BASE + 9)

_WORDS = {
    EMBXGTAR: "no answer from the node behind the bus daemon",
    EMBXGPATH: "the bus daemon has lost its serial line",
    _errno.ETIMEDOUT: "no answer from the node",
    EMBBADCRC: "garbled answer",
    EMBBADSLAVE: "answer from another slave",
    EMBBADDATA: "answer the library cannot use",
    EMBBADEXC: "answer the library cannot use",
    EMBMDATA: "too much data for one request",
    EMBUNKEXC: "the node refused the request",
    _errno.ENOENT: "no such device",
    _errno.ENODEV: "no such device",
    _errno.ENXIO: "no such device",
    _errno.EIO: "device not usable",
    _errno.ENOTTY: "device not usable",
    _errno.EACCES: "permission denied",
    _errno.EPERM: "permission denied",
    _errno.EBUSY: "device busy",
    _errno.EINVAL: "invalid argument",
}


def plain_words(error_number):
    """What a failure means to someone at the node, or None where libmodbus's
    own text says it as well."""
    if error_number in _NODE_EXCEPTIONS:
        return "the node refused the request"
    return _WORDS.get(error_number)


# The node itself, or the node behind the bus daemon, did not answer.
_NO_ANSWER = (_errno.ETIMEDOUT, EMBXGTAR)


def describe(what, error_number, slave=None):
    """'what: why in words (libmodbus's text)', as snctl prints a failure;
    a node that does not answer is named by its address when it is known."""
    if error_number == 0:
        return what
    if slave is not None and error_number in _NO_ANSWER:
        return "%s: no node answers at slave %d" % (what, slave)
    words = plain_words(error_number)
    if words is None and error_number >= _MODBUS_BASE:
        return what + ": unexpected failure in the Modbus library"
    text = _library.modbus_strerror(error_number)
    if words is None:
        return "%s: %s" % (what, text)
    return "%s: %s (%s)" % (what, words, text)


class NodeError(serial.SerialException):
    """A node or port operation failed.

    ``errno`` is the library's (libmodbus's codes included, ETIMEDOUT for a
    node that does not answer); ``strerror`` and str() are the sentence.
    An errno of 0 means the node answered but did not do what was asked
    (for instance it kept its transmit buffer full).  `slave`, where given,
    names the node that did not answer.
    """

    def __init__(self, what, error_number, slave=None):
        super().__init__(error_number, describe(what, error_number, slave))

    def __str__(self):
        return self.strerror


class ClosedError(NodeError):
    """The node or port was used after close(); errno is EINVAL, as the
    library gives for a closed handle."""

    def __init__(self, what, thing="the node"):
        serial.SerialException.__init__(self, _errno.EINVAL, "%s: %s is closed" % (what, thing))


class ArgumentError(NodeError, ValueError):
    """A bad argument, refused before any traffic: a ValueError, and an
    OSError with errno EINVAL as the library would have set."""

    def __init__(self, sentence):
        serial.SerialException.__init__(self, _errno.EINVAL, sentence)


class DeviceBusyError(NodeError):
    """The device is held by another program (errno EBUSY); the sentence
    names it and, for snbusd, the tcp: name that reaches the bus through it."""

    def __init__(self, sentence):
        serial.SerialException.__init__(self, _errno.EBUSY, sentence)


class NothingListensError(NodeError):
    """Nothing listens at a tcp: name (errno ECONNREFUSED)."""

    def __init__(self, address):
        serial.SerialException.__init__(
            self, _errno.ECONNREFUSED,
            "nothing listens at %s \u2014 is snbusd running?" % address)


def check(status, error_number, what, slave=None):
    """Raises NodeError when a status call gave -1."""
    if status < 0:
        raise NodeError(what, error_number, slave)
    return status
