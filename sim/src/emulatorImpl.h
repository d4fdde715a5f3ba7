// Inner state of snsim::Emulator, shared by the serving loop (server.cpp),
// the attachment pump (pump.cpp) and the public API (emulator.cpp).
#pragma once

#include "attachment.h"
#include "faultDice.h"
#include "nodeMap.h"
#include "sncommon/pseudoTerminal.h"
#include "snsim/emulator.h"

#include <modbus/modbus.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace snsim {

using detail::Clock;

struct Emulator::Impl {
    explicit Impl(Options o);

    Options opt;

    // Everything below `mu` is guarded by it.
    mutable std::mutex mu;
    mutable std::condition_variable logCv;
    std::vector<std::unique_ptr<detail::NodeMap>> nodes;
    std::deque<Transaction> log;
    uint64_t logBase = 0;  // sequence number of log.front()
    Fault fault = Fault::None;
    detail::FaultDice dice;
    std::chrono::milliseconds faultDelay{0};
    int exceptionCode = 4;
    bool lineTiming = false;
    int modbusBaud = 115200;
    std::string devPath;

    // Lifecycle (start/stop/unplug are serialised by lifeMu).
    std::mutex lifeMu;
    bool running = false;
    bool serving = false;
    std::unique_ptr<sncommon::PseudoTerminal> dev;  // the Modbus line, with its link
    modbus_t* ctx = nullptr;
    int replyPair[2] = {-1, -1};  // libmodbus writes replies into [0]
    int serverStop[2] = {-1, -1};
    int pumpWake[2] = {-1, -1};
    std::atomic<bool> pumpQuit{false};
    std::thread server, pump;
    // Attachments of the first slave's ports (Pty/Exec only).
    std::array<std::unique_ptr<detail::AttachmentIo>, 3> atts;

    detail::NodeMap* node(int slave);
    const detail::NodeMap* node(int slave) const;

    void serverLoop();
    void serveFrame(const uint8_t* frame, std::size_t len, Clock::time_point arrival);
    // Under mu: the log entry's sequence number.
    uint64_t logRequest(const detail::Request& req, Clock::time_point arrival);
    // Under mu: writes addressed to every slave, never answered.
    void applyBroadcast(const detail::Request& req, Fault flt, Clock::time_point now);
    // Under mu: the answer libmodbus builds (or an exception frame), empty
    // for another slave's request.
    std::vector<uint8_t> answer(const detail::Request& req, const uint8_t* frame, std::size_t len,
                                Fault flt, Clock::time_point now);
    void sendReply(const std::vector<uint8_t>& reply, uint64_t seq, Clock::time_point sendAt,
                   bool torn, bool busy);
    // Waits until `until`; false when stopping or, unless the node is
    // `busy`, when the master starts a new request first (the pending
    // answer is then dropped).
    bool waitToSend(Clock::time_point until, bool busy);
    void sendToMaster(const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> takeLibmodbusReply();

    void pumpLoop();
    bool advancePorts(std::array<std::size_t, detail::kPorts>& allowance);
    void takeFromInstrument(int port, std::size_t allowance);
    void kickPump();

    void stopServing();
    // Setup steps of start(); releaseAll() undoes every one of them.
    std::string makeReplyContext();
    bool openAttachments();  // throws std::runtime_error
    void releaseAll();
};

}  // namespace snsim
