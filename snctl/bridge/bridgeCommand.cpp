// "bridge P ... --link PATH": a virtual port of the node as a local
// pseudo-terminal, or with --listen as a TCP port (Telnet with
// COM-PORT-OPTION, or raw), relayed both ways until SIGINT, SIGTERM or
// SIGHUP.
#include "bridgeCommand.h"
#include "bridgeOptions.h"
#include "failure.h"
#include "ptyPeer.h"
#include "relayNames.h"
#include "remoteServer.h"
#include "sncommon/pseudoTerminal.h"
#include "sncommon/stopSignals.h"

#include <chrono>

namespace snctl {

namespace {

constexpr uint32_t kDrainBudget = 100;  // hundredths: what the node holds goes out first

Report readyReport(const BridgeOptions& options) {
    Report ready;
    ready.number("port", options.port);
    ready.number("baud", options.line.baud);
    ready.text("format",
               std::string("8") + options.line.parity + std::to_string(options.line.stopBits));
    return ready;
}

void printReady(const CommandContext& context, const Report& ready) {
    context.options.json ? ready.printJson(context.out) : ready.printText(context.out);
}

SnSerial* openPortWithLine(CommandContext& context, const BridgeOptions& options) {
    SnSerial* port = context.access.port(options.port);
    check(snSerInit(port, static_cast<int>(options.line.baud), options.line.parity,
                    options.line.stopBits),
          "cannot set the line of virtual port " + std::to_string(options.port));
    return port;
}

// What the node holds goes out first; then the counts, and a node lost at
// the end is a failure.
void finishBridge(CommandContext& context, SnSerial* port, const BridgeOptions& options,
                  const Relayed& relayed) {
    if (!relayed.nodeDown) snSerDrain(port, kDrainBudget);
    context.access.closePort(port);
    context.report.number("to_node", static_cast<long long>(relayed.toNode));
    context.report.number("from_node", static_cast<long long>(relayed.fromNode));
    // What the node never told: 0 and 0 unless it died or garbled mid-transfer.
    context.report.number("unknown_to_node", static_cast<long long>(relayed.unknownToNode));
    context.report.number("unknown_from_node", static_cast<long long>(relayed.unknownFromNode));
    if (relayed.nodeDown) {
        throw DeviceError("bridge: virtual port " + std::to_string(options.port) +
                              " had lost its node when the bridge stopped",
                          0);
    }
}

// Relays until a stop signal or a failing side.
Relayed relayUntilStopped(SnSerial* port, const sncommon::PseudoTerminal& pty,
                          const BridgeOptions& options, const sncommon::StopSignals& signals) {
    PtyPeer peer(pty.master());
    Relay relay(port, peer, options.line, "snctl: bridge");
    relay.start();
    while (!relay.stopped().raised() && signals.wait(std::chrono::milliseconds(100)) == 0) {
    }
    return relay.finish();
}

void runPtyBridge(const BridgeOptions& options, CommandContext& context,
                  const sncommon::StopSignals& signals) {
    // The link first: a bridge that cannot have it changes nothing on the
    // node, and leaves another bridge's line as it was.
    const sncommon::PseudoTerminal pty(sncommon::PseudoTerminalOptions{options.link});
    SnSerial* port = openPortWithLine(context, options);
    Report ready = readyReport(options);
    ready.text("link", options.link);
    ready.text("pty", pty.slavePath());
    printReady(context, ready);
    finishBridge(context, port, options, relayUntilStopped(port, pty, options, signals));
}

// --listen: the network thread is this one.  The address first, for the
// same reason as the link above.
void runServedBridge(const BridgeOptions& options, CommandContext& context,
                     const sncommon::StopSignals& signals) {
    ClientPeer peer(!options.raw, options.keep);
    RemoteServer server(options, peer, stderr);
    SnSerial* port = openPortWithLine(context, options);
    Report ready = readyReport(options);
    ready.text("listen", server.address());
    ready.text("protocol", options.raw ? "raw" : "rfc2217");
    printReady(context, ready);

    Relay relay(port, peer, options.line, "snctl: bridge");
    relay.start();
    server.run(signals, relay.stopped());
    const Relayed relayed = relay.finish();
    context.report.number("clients", static_cast<long long>(server.counts().clients));
    context.report.number("refused", static_cast<long long>(server.counts().refused));
    context.report.number("dropped", static_cast<long long>(peer.dropped()));
    finishBridge(context, port, options, relayed);
}

}  // namespace

void runBridge(const Arguments& args, CommandContext& context) {
    const BridgeOptions options = parseBridgeOptions(args);
    // Blocked before any thread starts, so that only this one sees them.
    const sncommon::StopSignals signals;
    if (options.listen) {
        runServedBridge(options, context, signals);
    } else {
        runPtyBridge(options, context, signals);
    }
}

}  // namespace snctl
