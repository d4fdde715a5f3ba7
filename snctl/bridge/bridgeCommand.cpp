// "bridge P ... --link PATH": a virtual port of the node as a local
// pseudo-terminal, relayed both ways until SIGINT, SIGTERM or SIGHUP.
#include "bridgeCommand.h"
#include "bridgeOptions.h"
#include "bridgeSides.h"
#include "failure.h"
#include "nodeHealth.h"
#include "sncommon/pseudoTerminal.h"
#include "sncommon/stopSignals.h"
#include "stopEvent.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace snctl {

namespace {

constexpr uint32_t kDrainBudget = 100;  // hundredths: what the node holds goes out first

// The first failure of either side, handed to the main thread.
class SideFailure {
public:
    template <typename Side>
    void run(Side& side, StopEvent& stop) {
        try {
            side.run();
        } catch (const DeviceError& error) {
            std::lock_guard lock(mutex_);
            if (!error_) error_ = error;
            stop.raise();
        }
    }
    void rethrow() const {
        if (error_) throw *error_;
    }

private:
    std::mutex mutex_;
    std::optional<DeviceError> error_;
};

// The time one full receive block takes on the port's line, within 20 to
// 50 ms: polling at that pace keeps up with the fastest line.
std::chrono::milliseconds idleWaitWhileTransmitting(const BridgeOptions& options, int bitsPerByte) {
    const long blockMs = long{SN_BLOCK_BYTES} * bitsPerByte * 1000 / options.baud;
    return std::chrono::milliseconds(std::clamp(blockMs, 20L, 50L));
}

void reportReady(const CommandContext& context, const BridgeOptions& options,
                 const sncommon::PseudoTerminal& pty) {
    Report ready;
    ready.number("port", options.port);
    ready.number("baud", options.baud);
    ready.text("format", std::string("8") + options.parity + std::to_string(options.stopBits));
    ready.text("link", options.link);
    ready.text("pty", pty.slavePath());
    context.options.json ? ready.printJson(context.out) : ready.printText(context.out);
}

// Relays until a stop signal or a failing side; what each way delivered.
struct Relayed {
    uint64_t toNode = 0;
    uint64_t fromNode = 0;
    bool nodeDown = false;  // the node was not answering at the end
};

Relayed relayUntilStopped(SnSerial* port, const sncommon::PseudoTerminal& pty,
                          const BridgeOptions& options, const sncommon::StopSignals& signals) {
    StopEvent stop;
    NodeHealth health(options.port, stderr);
    const int bitsPerByte = 1 + 8 + (options.parity == 'N' ? 0 : 1) + options.stopBits;
    TransmitSide transmit(
        port, pty.master(), stop, health,
        sncommon::LinePacer(options.baud, bitsPerByte, sncommon::LinePacer::Clock::now()));
    ReceiveSide receive(port, pty.master(), stop, health, transmit,
                        idleWaitWhileTransmitting(options, bitsPerByte));
    SideFailure failure;
    std::thread transmitter([&] { failure.run(transmit, stop); });
    std::thread receiver([&] { failure.run(receive, stop); });
    while (!stop.raised() && signals.wait(std::chrono::milliseconds(100)) == 0) {
    }
    stop.raise();
    transmitter.join();
    receiver.join();
    failure.rethrow();
    return Relayed{transmit.delivered(), receive.delivered(), health.down()};
}

}  // namespace

void runBridge(const Arguments& args, CommandContext& context) {
    const BridgeOptions options = parseBridgeOptions(args);
    // Blocked before any thread starts, so that only this one sees them.
    const sncommon::StopSignals signals;
    // The link first: a bridge that cannot have it changes nothing on the
    // node, and leaves another bridge's line as it was.
    const sncommon::PseudoTerminal pty(sncommon::PseudoTerminalOptions{options.link});
    SnSerial* port = context.access.port(options.port);
    check(snSerInit(port, static_cast<int>(options.baud), options.parity, options.stopBits),
          "cannot set the line of virtual port " + std::to_string(options.port));
    reportReady(context, options, pty);

    const Relayed relayed = relayUntilStopped(port, pty, options, signals);
    if (!relayed.nodeDown) snSerDrain(port, kDrainBudget);
    context.access.closePort(port);
    context.report.number("to_node", static_cast<long long>(relayed.toNode));
    context.report.number("from_node", static_cast<long long>(relayed.fromNode));
    if (relayed.nodeDown) {
        throw DeviceError("bridge: virtual port " + std::to_string(options.port) +
                              " had lost its node when the bridge stopped",
                          0);
    }
}

}  // namespace snctl
