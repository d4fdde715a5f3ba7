#include "portNews.h"

#include "blockPacking.h"
#include "registerMap.h"
#include "trace.h"

#include <algorithm>

namespace snlib {

namespace {

constexpr uint8_t kReadRegisters = 3;
constexpr uint8_t kWriteAndRead = 23;

uint16_t wordAt(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

// A receive block the node handed out after the read gave up: it is what
// the port's reader gets next (nothing was fetched since, the read of a
// port whose block is owed waits for its news).
void keepReceiveBlock(SnSerial& ser, PortLedger& ledger, const uint8_t* pdu, std::size_t length) {
    const std::size_t words = std::min<std::size_t>((length - 2) / 2, reg::kBlockDataRegs + 1);
    if (ser.ctx == nullptr || words == 0) return;  // closed since: nobody reads it
    if (ser.rxAvail != 0) {
        ++ledger.unknownRxBlocks;
        return;
    }
    for (std::size_t i = 0; i < words; ++i) ser.rxRegs[i] = wordAt(pdu + 2 + 2 * i);
    const int fits = 2 * static_cast<int>(words - 1);
    ser.rxIndex = kBlockDataStart;
    ser.rxAvail = static_cast<uint16_t>(std::min<int>(ser.rxRegs[0], fits));
    debugNote("A late receive block of port %d kept: %d chars\n", ser.port, ser.rxRegs[0]);
}

bool inDoubt(const PortLedger& ledger) {
    return ledger.chunk == PortLedger::Chunk::InFlight ||
           ledger.chunk == PortLedger::Chunk::Unknown;
}

}  // namespace

snline::OwedAnswers* DeviceBook::owedBy(uint8_t slave) {
    if (entry_ == nullptr) return owedAnswersOf(ctx_);
    SensorNode* node = entryOnSameDevice(*entry_, slave);
    return node != nullptr ? owedAnswersOf(node->ctx) : nullptr;
}

void DeviceBook::lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) {
    debugNote("A late answer of slave %d came %lld ms after its timeout\n", slave,
              static_cast<long long>(afterTimeout.count()));
}

// The port whose block at `blockOffset` the debt's request addressed.
SnSerial* DeviceBook::portOf(uint8_t slave, const snline::Debt& debt, int blockOffset) {
    if (entry_ == nullptr) return nullptr;
    SensorNode* node = entryOnSameDevice(*entry_, slave);
    if (node == nullptr) return nullptr;
    const int address = wordAt(debt.head.data() + 1);
    for (uint16_t port = 0; port < kPortsPerNode; ++port) {
        if (address == reg::portRegister(port, blockOffset)) return &node->serial[port];
    }
    return nullptr;
}

void DeviceBook::paid(uint8_t slave, const snline::Debt& debt, const uint8_t* pdu,
                      std::size_t length) {
    const bool refused = (pdu[0] & 0x80) != 0;
    if (debt.function() == kReadRegisters) {
        SnSerial* ser = portOf(slave, debt, reg::kRxBlock);
        if (ser == nullptr) return;
        PortLedger& ledger = ledgerOf(*ser);
        if (!ledger.receiveOwed) return;
        ledger.receiveOwed = false;
        if (!refused) keepReceiveBlock(*ser, ledger, pdu, length);
    } else if (debt.function() == kWriteAndRead) {
        SnSerial* ser = portOf(slave, debt, reg::kTxStatus);
        if (ser == nullptr || !inDoubt(ledgerOf(*ser))) return;
        PortLedger& ledger = ledgerOf(*ser);
        if (refused || length < 4) {
            ledger.chunk = PortLedger::Chunk::NotTaken;
            return;
        }
        ledger.taken = std::min<uint16_t>(wordAt(pdu + 2) & 0xFF, ledger.chunkLength);
        ledger.chunk = PortLedger::Chunk::Taken;
    }
}

// A request the node answered later ones before was never taken: a node
// does not answer a request it did not receive whole.  One it garbled the
// answer of, or that stayed unanswered past the debt's life, did whatever
// it did: that is counted, not guessed.
void DeviceBook::unpaid(uint8_t slave, const snline::Debt& debt, snline::DebtEnd why) {
    const bool unknown = debt.clouded || why == snline::DebtEnd::Expired;
    if (debt.function() == kReadRegisters) {
        SnSerial* ser = portOf(slave, debt, reg::kRxBlock);
        if (ser == nullptr || !ledgerOf(*ser).receiveOwed) return;
        PortLedger& ledger = ledgerOf(*ser);
        ledger.receiveOwed = false;
        if (unknown) ++ledger.unknownRxBlocks;
    } else if (debt.function() == kWriteAndRead) {
        SnSerial* ser = portOf(slave, debt, reg::kTxStatus);
        if (ser == nullptr || !inDoubt(ledgerOf(*ser))) return;
        PortLedger& ledger = ledgerOf(*ser);
        if (unknown) ledger.unknownTxBytes += ledger.chunkLength;
        ledger.chunk = PortLedger::Chunk::NotTaken;
    }
}

}  // namespace snlib
