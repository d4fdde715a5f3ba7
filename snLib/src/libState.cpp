#include "libState.h"

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
snline::OwedAnswers sNoEntry;  // a context outside the table: kept for the call only
pthread_mutex_t snMutex = PTHREAD_MUTEX_INITIALIZER;
// Atomic so that a debug level set from another thread is seen safely.
std::atomic<int16_t> snDebug{0};

}  // namespace

SensorNode* nodeTable() { return sNode; }
int16_t debugLevel() { return snDebug.load(std::memory_order_relaxed); }

void markTcpLink(const SensorNode& entry, bool tcp) {
    sTcpLink[&entry - sNode] = tcp;
    sOwed[&entry - sNode].clear();
}

int& lineLockOf(const SensorNode& entry) { return sLineLock[&entry - sNode].fd; }

snline::OwedAnswers* owedAnswersOf(const modbus_t* ctx) {
    for (int i = 0; i < kMaxNodes; ++i) {
        if (sNode[i].ctx == ctx) return &sOwed[i];
    }
    sNoEntry.clear();
    return &sNoEntry;
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
    pthread_mutex_init(&snlib::snMutex, nullptr);
}

extern "C" void snSetDebug(int16_t level) {
    snlib::snDebug.store(level, std::memory_order_relaxed);
}
