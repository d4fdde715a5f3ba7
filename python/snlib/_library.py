"""The C library, loaded once per process with ctypes.

Every prototype is declared here so that ctypes converts and checks the
arguments; nothing else in the package touches ctypes' function table.
The library must be initialised exactly once, so the first caller does it
under a lock.
"""

import ctypes
import threading

LIBRARY_NAME = "libsnLib.so.0"
MODBUS_NAME = "libmodbus.so.5"

# The node's limits, as snLimits.h gives them to C callers.
BLOCK_BYTES = 240
PORTS = 3
ANALOG_CHANNELS = 8
POWER_OUTPUTS = 4
MIN_DEVICE_TIMEOUT = 20
MIN_SLAVE = 1
MAX_SLAVE = 247
MIN_PORT_SPEED = 4
MAX_PORT_SPEED = 4 * 0xFFFF + 3
LINE_SPEEDS = (110, 300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400,
               460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000,
               3000000, 3500000, 4000000)


class Timeval(ctypes.Structure):
    """struct timeval, as the link-timeout accessors take it."""

    _fields_ = [("tv_sec", ctypes.c_long), ("tv_usec", ctypes.c_long)]


_u16 = ctypes.c_uint16
_i16 = ctypes.c_int16
_int = ctypes.c_int
_u32 = ctypes.c_uint32
_ptr = ctypes.c_void_p
_p16 = ctypes.POINTER(ctypes.c_uint16)

# name: (result type, argument types); handles travel as plain pointers.
_PROTOTYPES = {
    "initSensorNodeLib": (None, []),
    "snSetDebug": (None, [_i16]),
    "openSensorNode": (_ptr, [ctypes.c_char_p, _int, _int]),
    "closeSensorNode": (_int, [_ptr]),
    "snModbusGetResponseTimeout": (None, [_ptr, ctypes.POINTER(Timeval)]),
    "snModbusSetResponseTimeout": (None, [_ptr, ctypes.POINTER(Timeval)]),
    "snModbusGetByteTimeout": (None, [_ptr, ctypes.POINTER(Timeval)]),
    "snModbusSetByteTimeout": (None, [_ptr, ctypes.POINTER(Timeval)]),
    "setSensorNodeModbusTimeout": (_int, [_ptr, _u16]),
    "getSensorNodeModbusTimeout": (_int, [_ptr, _p16]),
    "snOpenSerial": (_ptr, [_ptr, _u16]),
    "snCloseSerial": (_int, [_ptr]),
    "snSerInit": (_int, [_ptr, _int, ctypes.c_char, _int]),
    "snSerRead": (_int, [_ptr, ctypes.c_void_p, _u32]),
    "snSerWrite": (_int, [_ptr, ctypes.c_void_p, _u32]),
    "snSerRxCount": (_int, [_ptr]),
    "snSerDrain": (_int, [_ptr, _u32]),
    "snSerIFlush": (_int, [_ptr]),
    "snSerOFlush": (_int, [_ptr]),
    "snSerBreak": (_int, [_ptr, _u16]),
    "snSerGetErrFlags": (_int, [_ptr, _p16]),
    "snSerClearErrFlags": (_int, [_ptr, _u16]),
    "snPower": (_int, [_ptr, _u16, _i16]),
    "snPowerIsOn": (_int, [_ptr, _u16]),
    "snGetPowerVector": (_int, [_ptr, _p16]),
    "snAnalogChan": (_int, [_ptr, _u16, _p16]),
    "snAnalogChans": (_int, [_ptr, _u16, _u16, _p16]),
    "snSetAnalogParms": (_int, [_ptr, _u16, _u16, _p16]),
    "snGetAnalogParms": (_int, [_ptr, _u16, _u16, _p16]),
    "snGetSerialNum": (_int, [_ptr, _p16]),
    "snGetSoftwareRev": (_int, [_ptr, _p16]),
    "snGetBoardConfig": (_int, [_ptr, ctypes.POINTER(ctypes.c_uint32)]),
    "snGetHwConfig": (_int, [_ptr, _p16]),
    "snSetDCAlwaysOn": (_int, [_ptr, _i16]),
    "snResetConfigMode": (_int, [_ptr]),
    "snBlinky": (_int, [_ptr, _int]),
}

_lock = threading.Lock()
_lib = None
_modbus = None


def library():
    """The loaded and initialised C library (loaded at the first call).

    Raises OSError when libsnLib.so.0 cannot be found: installed, it is in
    the linker's path; in a build tree, LD_LIBRARY_PATH names build/snLib.
    """
    global _lib, _modbus
    with _lock:
        if _lib is None:
            lib = ctypes.CDLL(LIBRARY_NAME, use_errno=True)
            for name, (result, arguments) in _PROTOTYPES.items():
                function = getattr(lib, name)
                function.restype = result
                function.argtypes = arguments
            modbus = ctypes.CDLL(MODBUS_NAME)
            modbus.modbus_strerror.restype = ctypes.c_char_p
            modbus.modbus_strerror.argtypes = [_int]
            lib.initSensorNodeLib()
            _modbus = modbus
            _lib = lib
        return _lib


def modbus_strerror(error_number):
    """libmodbus's text for an errno (its own codes and the system's)."""
    library()
    return _modbus.modbus_strerror(error_number).decode("utf-8", "replace")


def call(name, *arguments):
    """Calls a library function with errno cleared first; gives (result, errno).

    A successful transaction leaves errno alone, so a zero errno after the
    call means no failure was reported.
    """
    function = getattr(library(), name)
    ctypes.set_errno(0)
    result = function(*arguments)
    return result, ctypes.get_errno()
