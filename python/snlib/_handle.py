"""A library handle shared by threads and taken away by close().

The library's handles point into a table whose entries are reused: once a
node or port is closed its pointer may name another one.  So the pointer is
handed out only while the object is open, and close() waits for the calls
already running with it before the library hears of the close.
"""

import contextlib
import threading

from .errors import ClosedError


class Handle:
    """Guards one library pointer; `thing` names it in the closed error."""

    def __init__(self, pointer, thing):
        self._pointer = pointer
        self._thing = thing
        self._users = 0
        self._changed = threading.Condition()

    @property
    def is_open(self):
        return self._pointer is not None

    @contextlib.contextmanager
    def use(self, what):
        """The pointer for one call; ClosedError (saying `what` failed) when closed."""
        with self._changed:
            if self._pointer is None:
                raise ClosedError(what, self._thing)
            self._users += 1
            pointer = self._pointer
        try:
            yield pointer
        finally:
            with self._changed:
                self._users -= 1
                self._changed.notify_all()

    def take(self):
        """Closes the guard: waits out the calls in flight and gives the
        pointer for the library's close (None when it was closed already)."""
        with self._changed:
            pointer, self._pointer = self._pointer, None
            while self._users:
                self._changed.wait()
        return pointer
