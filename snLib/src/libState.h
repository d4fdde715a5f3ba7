// Library-wide state: the node table, the one library lock, the debug level.
#pragma once

#include "snLib.h"

#include <modbus.h>

#include <pthread.h>

#include "snline/owedAnswers.h"

namespace snlib {

constexpr int kMaxNodes = SN_MAX_NODES;
constexpr int kPortsPerNode = SN_PORTS;
constexpr int kPortNameSize = 256;

SensorNode* nodeTable();
int16_t debugLevel();

// Which open links are Modbus TCP connections (to the bus daemon), kept
// beside the table: only those are closed after a lost connection and
// connected again before the next transaction.  Marking a new link also
// clears what the entry's node owed and its ports' ledgers.  Under the lock.
void markTcpLink(const SensorNode& entry, bool tcp);
bool isTcpLink(const modbus_t* ctx);
// The descriptor holding the lock on an entry's serial device, or -1: the
// entries of one device share one lock, held by one of them.
int& lineLockOf(const SensorNode& entry);

// What the node of a serial link owes after a failure (never null for an
// open link's context).  Cleared when the entry is opened.
snline::OwedAnswers* owedAnswersOf(const modbus_t* ctx);
// The entry whose link `ctx` is, or nullptr.
SensorNode* entryOf(const modbus_t* ctx);

// The entries of one serial device share its line: its identity is kept
// beside the table, so that a device opened under two names (a symlink, a
// by-id name) is one device.  Under the lock.
void markDevice(const SensorNode& entry, const char* name);
bool isOnDeviceOf(const SensorNode& entry, const char* name);
// The open entry on `entry`'s device (itself included) that addresses
// `slave`, or nullptr.
SensorNode* entryOnSameDevice(const SensorNode& entry, uint16_t slave);

// What a port's transfers left open when a transaction failed, and what
// the node never told.  Kept beside the table.  Under the lock.
struct PortLedger {
    enum class Chunk {
        None,      // no transmit chunk in doubt
        InFlight,  // being sent now
        Unknown,   // its answer is owed: the node may have taken some of it
        Taken,     // the late answer came: `taken` bytes
        NotTaken,  // the node answered later requests, never this one
    };
    Chunk chunk = Chunk::None;
    uint16_t chunkLength = 0;  // bytes of the chunk, packed in txRegs
    uint16_t taken = 0;
    uint32_t takenLate = 0;    // taken of failed writes, not yet collected
    bool receiveOwed = false;  // a receive block's answer is owed
    uint32_t unknownRxBlocks = 0;
    uint32_t unknownTxBytes = 0;
};
PortLedger& ledgerOf(const SnSerial& ser);

// Holds the library lock for one scope.  The lock is never nested.
class LibLock {
public:
    LibLock();
    ~LibLock();
    LibLock(const LibLock&) = delete;
    LibLock& operator=(const LibLock&) = delete;
};

// Open-state checks that read the handle under the lock, so a concurrent
// close is seen consistently.  Both set errno to EINVAL when they refuse.
bool nodeIsOpen(const SensorNode* node);
// The owning node of an open port (table memory, always valid to read its
// name), or nullptr when the port is closed.
SensorNode* openPortOwner(const SnSerial* ser);

// Same checks for code already holding the lock.
bool nodeIsOpenLocked(const SensorNode* node);
bool portIsOpenLocked(const SnSerial* ser);

// Result of one Modbus transaction as a status: 0 when libmodbus returned a
// positive result, -1 (errno left as libmodbus set it) otherwise.
int statusOf(int modbusResult);

int failWith(int err);  // sets errno, returns -1

}  // namespace snlib
