"""Who holds a serial device's lock, in the sentence snctl prints when it is
refused the device: "DEVICE is in use by PID N (snbusd); reach the bus
through tcp:HOST:PORT" for a bus daemon whose listening address is known,
"DEVICE is in use by PID N (NAME)" for another holder the kernel names, and
"DEVICE is in use by another program" otherwise.

Everything comes from /proc: the flock in /proc/locks, the holder's name,
and for snbusd the listening socket among its descriptors.
"""

import os


def _lock_holder(status):
    """The PID holding a flock on the file of `status` ("1: FLOCK  ADVISORY
    WRITE 1234 00:1a:6 0 EOF" in /proc/locks), or 0."""
    wanted = "%02x:%02x:%d" % (os.major(status.st_dev), os.minor(status.st_dev), status.st_ino)
    try:
        with open("/proc/locks") as locks:
            lines = locks.read().splitlines()
    except OSError:
        return 0
    for line in lines:
        fields = line.split()
        if len(fields) > 1 and fields[1] == "->":  # a waiter, listed under the holder
            del fields[1]
        if len(fields) >= 6 and fields[1] == "FLOCK" and fields[5] == wanted:
            try:
                return int(fields[4])
            except ValueError:
                return 0
    return 0


def _command_name(pid):
    try:
        with open("/proc/%d/comm" % pid) as comm:
            return comm.readline().strip()
    except OSError:
        return ""


def _socket_descriptors(pid):
    """{socket inode: descriptor} of the process (readable for our own
    user's processes, and for root)."""
    sockets = {}
    folder = "/proc/%d/fd" % pid
    try:
        names = os.listdir(folder)
    except OSError:
        return sockets
    for name in names:
        try:
            target = os.readlink(os.path.join(folder, name))
        except OSError:
            continue
        if target.startswith("socket:[") and name.isdigit():
            sockets[target[len("socket:["):-1]] = int(name)
    return sockets


def _listening_address(sockets):
    """HOST:PORT of the listening IPv4 TCP socket among `sockets` with the
    lowest descriptor: the daemon opens its Modbus listeners before its
    metrics page, so that is where clients connect."""
    found, lowest = "", None
    try:
        with open("/proc/net/tcp") as table:
            rows = table.read().splitlines()[1:]
    except OSError:
        return found
    for row in rows:
        fields = row.split()
        if len(fields) < 10 or fields[3] != "0A" or fields[9] not in sockets:
            continue
        descriptor = sockets[fields[9]]
        if lowest is not None and descriptor > lowest:
            continue
        address, port = fields[1].split(":")
        packed = int(address, 16)
        host = ".".join(str((packed >> shift) & 0xFF) for shift in (0, 8, 16, 24))
        found, lowest = "%s:%d" % (host, int(port, 16)), descriptor
    return found


def holder_sentence(device):
    """The sentence for a device another program holds."""
    unknown = "%s is in use by another program" % device
    try:
        pid = _lock_holder(os.stat(device))
    except OSError:
        return unknown
    name = _command_name(pid) if pid > 0 else ""
    if not name:
        return unknown
    sentence = "%s is in use by PID %d (%s)" % (device, pid, name)
    if name == "snbusd":
        address = _listening_address(_socket_descriptors(pid))
        if address:
            sentence += "; reach the bus through tcp:" + address
    return sentence
