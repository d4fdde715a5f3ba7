#include "libState.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace snlib {
namespace {

SensorNode sNode[kMaxNodes];
bool sTcpLink[kMaxNodes];  // entry i's link is a TCP connection
snline::OwedAnswers sOwed[kMaxNodes];
struct LineLock {
    int fd = -1;
};
LineLock sLineLock[kMaxNodes];
struct DeviceIdentity {
    bool known = false;
    dev_t device = 0;
    ino_t inode = 0;
};
DeviceIdentity sDevice[kMaxNodes];
PortLedger sLedger[kMaxNodes][kPortsPerNode];
snline::OwedAnswers sNoEntry;  // a context outside the table: kept for the call only
pthread_mutex_t snMutex = PTHREAD_MUTEX_INITIALIZER;
// Atomic so that a debug level set from another thread is seen safely.
std::atomic<int16_t> snDebug{0};

}  // namespace

SensorNode* nodeTable() { return sNode; }
int16_t debugLevel() { return snDebug.load(std::memory_order_relaxed); }

void markTcpLink(const SensorNode& entry, bool tcp) {
    sTcpLink[&entry - sNode] = tcp;
    // A link opened anew owes nothing, and its ports start with clean books.
    sOwed[&entry - sNode].clear();
    for (auto& ledger : sLedger[&entry - sNode]) ledger = PortLedger{};
}

int& lineLockOf(const SensorNode& entry) { return sLineLock[&entry - sNode].fd; }

namespace {

DeviceIdentity identityOf(const char* name) {
    struct stat named {};
    if (::stat(name, &named) < 0) return {};
    return DeviceIdentity{true, named.st_dev, named.st_ino};
}

bool sameDevice(const DeviceIdentity& a, const DeviceIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

}  // namespace

void markDevice(const SensorNode& entry, const char* name) {
    sDevice[&entry - sNode] = isTcpLink(entry.ctx) ? DeviceIdentity{} : identityOf(name);
}

bool isOnDeviceOf(const SensorNode& entry, const char* name) {
    return sameDevice(sDevice[&entry - sNode], identityOf(name));
}

SensorNode* entryOnSameDevice(const SensorNode& entry, uint16_t slave) {
    const DeviceIdentity& device = sDevice[&entry - sNode];
    for (int i = 0; i < kMaxNodes; ++i) {
        SensorNode& other = sNode[i];
        if (other.refCount == 0 || other.slaveId != slave) continue;
        if (&other == &entry || sameDevice(sDevice[i], device)) return &other;
    }
    return nullptr;
}

PortLedger& ledgerOf(const SnSerial& ser) {
    // The record sits inside its node's entry, whether or not it is open.
    for (int i = 0; i < kMaxNodes; ++i) {
        if (&ser >= sNode[i].serial && &ser < sNode[i].serial + kPortsPerNode)
            return sLedger[i][&ser - sNode[i].serial];
    }
    static PortLedger outside;  // a record outside the table: kept for the call only
    outside = PortLedger{};
    return outside;
}

snline::OwedAnswers* owedAnswersOf(const modbus_t* ctx) {
    for (int i = 0; i < kMaxNodes; ++i) {
        if (sNode[i].ctx == ctx) return &sOwed[i];
    }
    sNoEntry.clear();
    return &sNoEntry;
}

SensorNode* entryOf(const modbus_t* ctx) {
    if (ctx == nullptr) return nullptr;
    for (int i = 0; i < kMaxNodes; ++i) {
        if (sNode[i].ctx == ctx) return &sNode[i];
    }
    return nullptr;
}

// Ports carry a copy of their node's context, so the context itself is
// what identifies the link.
bool isTcpLink(const modbus_t* ctx) {
    if (ctx == nullptr) return false;
    for (int i = 0; i < kMaxNodes; ++i) {
        if (sNode[i].ctx == ctx) return sTcpLink[i];
    }
    return false;
}

LibLock::LibLock() { pthread_mutex_lock(&snMutex); }
LibLock::~LibLock() { pthread_mutex_unlock(&snMutex); }

bool nodeIsOpenLocked(const SensorNode* node) {
    if (node == nullptr || node->ctx == nullptr) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool portIsOpenLocked(const SnSerial* ser) {
    if (ser == nullptr || ser->ctx == nullptr || ser->node == nullptr) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool nodeIsOpen(const SensorNode* node) {
    if (node == nullptr) {
        errno = EINVAL;
        return false;
    }
    LibLock lock;
    return nodeIsOpenLocked(node);
}

SensorNode* openPortOwner(const SnSerial* ser) {
    if (ser == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    LibLock lock;
    return portIsOpenLocked(ser) ? ser->node : nullptr;
}

int statusOf(int modbusResult) { return modbusResult > 0 ? 0 : -1; }

int failWith(int err) {
    errno = err;
    return -1;
}

}  // namespace snlib

extern "C" void initSensorNodeLib(void) {
    std::memset(snlib::sNode, 0, sizeof snlib::sNode);
    std::memset(snlib::sTcpLink, 0, sizeof snlib::sTcpLink);
    for (auto& ledgers : snlib::sLedger) {
        for (auto& ledger : ledgers) ledger = snlib::PortLedger{};
    }
    pthread_mutex_init(&snlib::snMutex, nullptr);
}

extern "C" void snSetDebug(int16_t level) {
    snlib::snDebug.store(level, std::memory_order_relaxed);
}
