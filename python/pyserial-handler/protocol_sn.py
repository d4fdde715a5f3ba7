"""sn:// for pyserial without importing snlib first: installed beside
pyserial's own handlers, it hands the URL to snlib's."""

from snlib.urlhandler.protocol_sn import Serial  # noqa: F401
