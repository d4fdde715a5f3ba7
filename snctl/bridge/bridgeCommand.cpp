// "bridge P ... --link PATH": a virtual port of the node as a local
// pseudo-terminal, relayed both ways until SIGINT, SIGTERM or SIGHUP.
#include "bridgeCommand.h"
#include "bridgeOptions.h"
#include "failure.h"
#include "ptyPeer.h"
#include "relay.h"
#include "sncommon/pseudoTerminal.h"
#include "sncommon/stopSignals.h"

#include <chrono>

namespace snctl {

namespace {

constexpr uint32_t kDrainBudget = 100;  // hundredths: what the node holds goes out first

void reportReady(const CommandContext& context, const BridgeOptions& options,
                 const sncommon::PseudoTerminal& pty) {
    Report ready;
    ready.number("port", options.port);
    ready.number("baud", options.line.baud);
    ready.text("format",
               std::string("8") + options.line.parity + std::to_string(options.line.stopBits));
    ready.text("link", options.link);
    ready.text("pty", pty.slavePath());
    context.options.json ? ready.printJson(context.out) : ready.printText(context.out);
}

// Relays until a stop signal or a failing side.
Relayed relayUntilStopped(SnSerial* port, const sncommon::PseudoTerminal& pty,
                          const BridgeOptions& options, const sncommon::StopSignals& signals) {
    PtyPeer peer(pty.master());
    Relay relay(port, peer, options.line);
    relay.start();
    while (!relay.stopped().raised() && signals.wait(std::chrono::milliseconds(100)) == 0) {
    }
    return relay.finish();
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
    check(snSerInit(port, static_cast<int>(options.line.baud), options.line.parity,
                    options.line.stopBits),
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
