"""Argument checks made before any traffic, raising ArgumentError."""

import math
import operator

from .errors import ArgumentError


def integer(value, low, high, name):
    """`value` as an int within [low, high]."""
    try:
        number = operator.index(value)
    except TypeError:
        number = None
    if number is None or not low <= number <= high:
        raise ArgumentError("%s must be an integer from %d to %d, not %r" % (name, low, high, value))
    return number


def seconds(value, low, high, name):
    """`value` as a finite float number of seconds within [low, high]."""
    try:
        number = float(value)
    except (TypeError, ValueError):
        number = math.nan
    if not (math.isfinite(number) and low <= number <= high):
        raise ArgumentError("%s must be from %g to %g seconds, not %r" % (name, low, high, value))
    return number


def word(value, name):
    """An unsigned 16-bit register word."""
    return integer(value, 0, 0xFFFF, name)
