#include "daemonWait.h"

#include "libState.h"

#include <algorithm>
#include <atomic>

namespace snlib::daemon {

namespace {

constexpr uint8_t kSetClientTimeout = 0x41;
constexpr uint64_t kTellingWaitUs = 500000;      // another gateway may pass it on and stay silent
constexpr uint64_t kQueueAllowanceUs = 5000000;  // other clients' turns before ours

struct Wait {
    std::atomic<uint64_t> lineUs{600000};
    std::atomic<bool> told{false};
};
Wait sWaits[kMaxNodes];

Wait& waitOf(const SensorNode& entry) { return sWaits[&entry - nodeTable()]; }

// A failed request costs the daemon 2.5 line waits at most, 3.75 when a
// probe goes first and one more when it must listen first; the queue
// comes on top.
uint64_t connectionWaitUs(uint64_t lineUs) { return lineUs * 5 + kQueueAllowanceUs; }

void setConnectionWait(modbus_t* ctx, uint64_t us) {
    modbus_set_response_timeout(ctx, static_cast<uint32_t>(us / 1000000),
                                static_cast<uint32_t>(us % 1000000));
}

}  // namespace

void setLineWait(const SensorNode& entry, uint64_t us) {
    Wait& wait = waitOf(entry);
    wait.lineUs.store(us);
    wait.told.store(false);
    if (entry.ctx != nullptr) setConnectionWait(entry.ctx, connectionWaitUs(us));
}

uint64_t lineWait(const SensorNode& entry) { return waitOf(entry).lineUs.load(); }

void connected(const SensorNode& entry) { waitOf(entry).told.store(false); }

void tellIfNew(modbus_t* ctx) {
    SensorNode* entry = entryOf(ctx);
    if (entry == nullptr || waitOf(*entry).told.exchange(true)) return;
    const uint64_t lineUs = waitOf(*entry).lineUs.load();
    const auto ms = static_cast<uint16_t>(std::clamp<uint64_t>(lineUs / 1000, 1, 65535));
    const uint8_t request[] = {static_cast<uint8_t>(entry->slaveId), kSetClientTimeout,
                               static_cast<uint8_t>(ms >> 8), static_cast<uint8_t>(ms & 0xFF)};
    setConnectionWait(ctx, kTellingWaitUs);
    uint8_t answer[MODBUS_TCP_MAX_ADU_LENGTH];
    if (modbus_send_raw_request(ctx, request, sizeof request) >= 0 &&
        modbus_receive_confirmation(ctx, answer) < 0)
        modbus_flush(ctx);
    setConnectionWait(ctx, connectionWaitUs(lineUs));
}

}  // namespace snlib::daemon
