// Opening and closing nodes, and the link and device timeouts.
#include "daemonWait.h"
#include "libState.h"
#include "lineSpeeds.h"
#include "registerMap.h"
#include "trace.h"
#include "transactions.h"

#include "snline/deviceLock.h"
#include "snline/hostPort.h"

#include <modbus.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace snlib;

namespace {

constexpr int kMinSlave = SN_MIN_SLAVE;
constexpr int kMaxSlave = SN_MAX_SLAVE;
constexpr uint32_t kResponseTimeoutUs = 600000;
constexpr uint32_t kByteTimeoutUs = 50000;

// The same name, or another name of the same serial device (a symlink,
// a by-id name): one node on one line has one entry, so that what it owes
// after a failure is known whichever name asks it next.
SensorNode* findOpenEntry(const char* name, int slave) {
    SensorNode* table = nodeTable();
    const bool serial = !snline::isTcpLinkName(name);
    for (int i = 0; i < kMaxNodes; ++i) {
        SensorNode& n = table[i];
        if (n.refCount == 0 || n.slaveId != slave) continue;
        if (std::strncmp(n.portName, name, kPortNameSize) == 0) return &n;
        if (serial && !isTcpLink(n.ctx) && isOnDeviceOf(n, name)) return &n;
    }
    return nullptr;
}

SensorNode* findFreeEntry() {
    SensorNode* table = nodeTable();
    for (int i = 0; i < kMaxNodes; ++i) {
        if (table[i].refCount == 0) return &table[i];
    }
    return nullptr;
}

// "tcp:HOST:PORT" names a Modbus TCP connection (to the bus daemon, whose
// unit id is the slave address); any other name is a serial device.
bool isTcpName(const char* name) { return snline::isTcpLinkName(name); }

// What a new link needs: a TCP name that parses, or a serial line speed the
// driver can set (libmodbus would silently run another one at 9600).
bool validNewLink(const char* name, int speed, snline::HostPort& address) {
    if (isTcpName(name)) return snline::parseTcpLinkName(name, address);
    return isSupportedLineSpeed(speed);
}

// The entry of this process that holds the lock on `name`'s device.
SensorNode* lockHolderOf(const char* name) {
    SensorNode* table = nodeTable();
    for (int i = 0; i < kMaxNodes; ++i) {
        const int fd = lineLockOf(table[i]);
        if (table[i].refCount != 0 && fd >= 0 && snline::isSameDevice(fd, name)) return &table[i];
    }
    return nullptr;
}

// One master per bus: a serial device is locked before libmodbus touches
// its line, and a device another program holds is refused with EBUSY.  The
// nodes of this process on one device share the lock.
bool lockLine(SensorNode& entry, const char* name) {
    lineLockOf(entry) = -1;
    if (isTcpName(name) || lockHolderOf(name) != nullptr) return true;
    const int fd = snline::lockDevice(name);
    if (fd < 0) {
        if (errno == EBUSY) debugNote("%s is in use by another program\n", name);
        return false;
    }
    lineLockOf(entry) = fd;
    return true;
}

// The lock goes with the last node of its device: while another stays
// open, the descriptor passes to it.
void releaseLine(SensorNode& entry) {
    int& fd = lineLockOf(entry);
    if (fd < 0) return;
    SensorNode* table = nodeTable();
    for (int i = 0; i < kMaxNodes; ++i) {
        char name[kPortNameSize + 1] = {};
        std::memcpy(name, table[i].portName, kPortNameSize);  // may fill the field
        if (&table[i] != &entry && table[i].refCount != 0 && !isTcpName(name) &&
            snline::isSameDevice(fd, name)) {
            lineLockOf(table[i]) = fd;
            fd = -1;
            return;
        }
    }
    close(fd);
    fd = -1;
}

modbus_t* newContext(const char* name, int speed, const snline::HostPort& address) {
    if (isTcpName(name)) {
        modbus_t* ctx = modbus_new_tcp_pi(address.host, address.port);
        if (ctx == nullptr) debugNote("Failed modbus_new_tcp_pi(): %s\n", modbus_strerror(errno));
        return ctx;
    }
    modbus_t* ctx = modbus_new_rtu(name, speed, 'N', 8, 1);
    if (ctx == nullptr) debugNote("Failed modbus_new_rtu(): %s\n", modbus_strerror(errno));
    return ctx;
}

// Creates and connects the context; on failure leaves the entry free.
bool connectEntry(SensorNode& entry, const char* name, int speed, int slave,
                  const snline::HostPort& address) {
    if (!lockLine(entry, name)) return false;
    entry.ctx = newContext(name, speed, address);
    if (entry.ctx == nullptr) {
        const int error = errno;
        releaseLine(entry);
        errno = error;
        return false;
    }
    const char* failure = nullptr;
    if (modbus_set_slave(entry.ctx, slave) < 0) {
        failure = "Failed modbus_set_slave(): %s\n";
    } else if (modbus_connect(entry.ctx) < 0) {
        failure = "Failed modbus_connect(): %s\n";
    }
    if (failure == nullptr) {
        markTcpLink(entry, isTcpName(name));
        markDevice(entry, name);
        return true;
    }
    const int error = errno;
    debugNote(failure, modbus_strerror(error));
    modbus_close(entry.ctx);
    modbus_free(entry.ctx);
    entry.ctx = nullptr;
    releaseLine(entry);
    errno = error;
    return false;
}

void setUpOpenedEntry(SensorNode& entry, const char* name, int slave) {
    entry.refCount = 1;
    entry.slaveId = static_cast<uint16_t>(slave);
    // Bounded copy: a name of 256 characters or more fills the field
    // without a terminator, and every reader of the field is bounded too.
    const size_t length = strnlen(name, kPortNameSize);
    std::memcpy(entry.portName, name, length);
    std::memset(entry.portName + length, 0, kPortNameSize - length);
    if (!isTcpName(name)) modbus_rtu_set_serial_mode(entry.ctx, MODBUS_RTU_RS232);
    if (isTcpName(name)) {
        daemon::connected(entry);
        daemon::setLineWait(entry, kResponseTimeoutUs);
    } else {
        modbus_set_response_timeout(entry.ctx, 0, kResponseTimeoutUs);
    }
    modbus_set_byte_timeout(entry.ctx, 0, kByteTimeoutUs);
    // Whether the node answers is not checked here: the open succeeds as
    // soon as the device is open.
    mb::writeRegister(entry.ctx, reg::kDeviceTimeout, reg::kDefaultDeviceTimeout);
}

// A port must never reach its node's freed context, so the close that frees
// the context closes the node's ports with it (no traffic: the link is going).
void closePortsOf(SensorNode& node) {
    for (SnSerial& ser : node.serial) {
        ser.node = nullptr;
        ser.ctx = nullptr;
        ser.refCount = 0;
        ser.rxAvail = 0;
    }
}

using TimeoutGetter = int (*)(modbus_t*, uint32_t*, uint32_t*);
using TimeoutSetter = int (*)(modbus_t*, uint32_t, uint32_t);

// The link timeouts travel as seconds and microseconds, each 32-bit.
void readLinkTimeout(SensorNode* node, timeval* tv, TimeoutGetter get) {
    if (node == nullptr || node->ctx == nullptr) return;
    uint32_t sec = 0, usec = 0;
    get(node->ctx, &sec, &usec);
    if (tv != nullptr) {
        tv->tv_sec = static_cast<time_t>(sec);
        tv->tv_usec = static_cast<suseconds_t>(usec);
    }
}

void writeLinkTimeout(SensorNode* node, const timeval* tv, TimeoutSetter set) {
    if (node == nullptr || node->ctx == nullptr || tv == nullptr) return;
    set(node->ctx, static_cast<uint32_t>(tv->tv_sec), static_cast<uint32_t>(tv->tv_usec));
}

}  // namespace

extern "C" SensorNode* openSensorNode(const char* name, int speed, int slave) {
    if (name == nullptr) {
        trace("openSensorNode((null), %d, %d)\n", speed, slave);
        errno = EINVAL;
        return nullptr;
    }
    trace("openSensorNode(%s, %d, %d)\n", name, speed, slave);
    // An empty name would reach libmodbus, which prints a complaint of its own.
    if (name[0] == '\0' || slave < kMinSlave || slave > kMaxSlave) {
        errno = EINVAL;
        return nullptr;
    }
    LibLock lock;
    if (SensorNode* open = findOpenEntry(name, slave)) {
        ++open->refCount;
        return open;
    }
    // Only a new context runs at the speed (a TCP link has none).
    snline::HostPort address;
    if (!validNewLink(name, speed, address)) {
        errno = EINVAL;
        return nullptr;
    }
    SensorNode* entry = findFreeEntry();
    if (entry == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!connectEntry(*entry, name, speed, slave, address)) return nullptr;
    setUpOpenedEntry(*entry, name, slave);
    return entry;
}

extern "C" int closeSensorNode(SensorNode* node) {
    if (node == nullptr) return failWith(EINVAL);
    LibLock lock;
    // A close without a matching open must not wrap the count.
    if (node->refCount == 0) return failWith(EINVAL);
    trace("closeSensorNode(" SN_NAME "[%d])\n", node->portName, node->slaveId);
    if (--node->refCount == 0) {
        modbus_close(node->ctx);
        modbus_free(node->ctx);
        node->ctx = nullptr;
        releaseLine(*node);
        closePortsOf(*node);
    }
    return 0;
}

extern "C" void snModbusSetDebug(SensorNode* node, int16_t flag) {
    if (node == nullptr || node->ctx == nullptr) return;
    modbus_set_debug(node->ctx, flag != 0 ? TRUE : FALSE);
}

// Over TCP the response timeout is the wait on the daemon's line; the
// library's wait for the daemon's answer is sized from it.
extern "C" void snModbusGetResponseTimeout(SensorNode* node, struct timeval* tv) {
    if (node == nullptr || node->ctx == nullptr || !isTcpLink(node->ctx))
        return readLinkTimeout(node, tv, modbus_get_response_timeout);
    if (tv == nullptr) return;
    const uint64_t us = daemon::lineWait(*node);
    tv->tv_sec = static_cast<time_t>(us / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
}

extern "C" void snModbusSetResponseTimeout(SensorNode* node, const struct timeval* tv) {
    if (node == nullptr || node->ctx == nullptr || tv == nullptr || !isTcpLink(node->ctx))
        return writeLinkTimeout(node, tv, modbus_set_response_timeout);
    daemon::setLineWait(
        *node, static_cast<uint64_t>(tv->tv_sec) * 1000000 + static_cast<uint64_t>(tv->tv_usec));
}

extern "C" void snModbusGetByteTimeout(SensorNode* node, struct timeval* tv) {
    readLinkTimeout(node, tv, modbus_get_byte_timeout);
}

extern "C" void snModbusSetByteTimeout(SensorNode* node, const struct timeval* tv) {
    writeLinkTimeout(node, tv, modbus_set_byte_timeout);
}

extern "C" int setSensorNodeModbusTimeout(SensorNode* node, uint16_t value) {
    if (node == nullptr || value < reg::kMinDeviceTimeout) return failWith(EINVAL);
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::writeRegister(node->ctx, reg::kDeviceTimeout, value));
}

extern "C" int getSensorNodeModbusTimeout(SensorNode* node, uint16_t* value) {
    if (node == nullptr || value == nullptr) return failWith(EINVAL);
    LibLock lock;
    if (!nodeIsOpenLocked(node)) return -1;
    return statusOf(mb::readRegisters(node->ctx, reg::kDeviceTimeout, 1, value));
}
