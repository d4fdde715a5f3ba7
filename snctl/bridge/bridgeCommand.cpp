// "bridge P ... --link PATH": a virtual port of the node as a local
// pseudo-terminal, or with --listen as a TCP port (Telnet with
// COM-PORT-OPTION, or raw), relayed both ways until SIGINT, SIGTERM or
// SIGHUP.
#include "bridgeCommand.h"
#include "bridgeOptions.h"
#include "deviceReturn.h"
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
// `port` is null when the device had gone and not come back.
void finishBridge(CommandContext& context, SnSerial* port, const BridgeOptions& options,
                  const Relayed& relayed) {
    if (port != nullptr && !relayed.nodeDown) snSerDrain(port, kDrainBudget);
    if (port != nullptr) context.access.closePort(port);
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

// The counts of relays one after another, on a device that came back.
void addUp(Relayed& total, const Relayed& relayed) {
    total.toNode += relayed.toNode;
    total.fromNode += relayed.fromNode;
    total.unknownToNode += relayed.unknownToNode;
    total.unknownFromNode += relayed.unknownFromNode;
    total.nodeDown = relayed.nodeDown;
}

// Relays until a stop signal or a failing side.  A device that goes away is
// waited for with the pty kept, and relayed again once it is back; `port`
// is null when it had not come back at the stop.
Relayed relayUntilStopped(SnSerial*& port, const sncommon::PseudoTerminal& pty,
                          const BridgeOptions& options, CommandContext& context,
                          const sncommon::StopSignals& signals) {
    PtyPeer peer(pty.master());
    DeviceReturn device(context, options, stderr);
    Relayed total;
    for (;;) {
        Relay relay(port, peer, options.line, "snctl: bridge");
        device.watch(relay);
        relay.start();
        int signal = 0;
        while (!relay.stopped().raised() && !device.wentAway(relay) &&
               (signal = signals.wait(std::chrono::milliseconds(100))) == 0) {
        }
        addUp(total, relay.finish());
        if (signal != 0 || !device.wentAway(relay)) return total;
        device.gone();
        port = nullptr;
        while (port == nullptr) {
            if (signals.wait(std::chrono::milliseconds(100)) != 0) return total;
            port = device.tryReopen(options.line);
        }
    }
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
    const Relayed relayed = relayUntilStopped(port, pty, options, context, signals);
    finishBridge(context, port, options, relayed);
}

// Serves the clients while the device is away, trying it each second; the
// port open again, or null after a stop signal.
SnSerial* serveUntilBack(RemoteServer& server, DeviceReturn& device, const ClientPeer& peer,
                         const BridgeOptions& options, const sncommon::StopSignals& signals) {
    device.gone();
    for (;;) {
        if (!server.serve(signals, [&] { return device.due(); })) return nullptr;
        if (SnSerial* port = device.tryReopen(peer.lineHandedOver().value_or(options.line)))
            return port;
    }
}

// The network thread's loop: the relay runs beside it, started anew on a
// device that came back; the client is kept meanwhile.
Relayed serveUntilStopped(SnSerial*& port, RemoteServer& server, ClientPeer& peer,
                          const BridgeOptions& options, CommandContext& context,
                          const sncommon::StopSignals& signals) {
    DeviceReturn device(context, options, stderr);
    Relayed total;
    for (;;) {
        Relay relay(port, peer, peer.lineHandedOver().value_or(options.line), "snctl: bridge");
        device.watch(relay);
        relay.start();
        const bool signalled = !server.serve(
            signals, [&] { return relay.stopped().raised() || device.wentAway(relay); });
        const bool gone = !signalled && !relay.stopped().raised() && device.wentAway(relay);
        // A leaving client's line and break go back before the relay ends.
        if (!gone) server.closeClient();
        addUp(total, relay.finish());
        if (!gone) return total;
        port = serveUntilBack(server, device, peer, options, signals);
        if (port == nullptr) {
            server.closeClient();
            return total;
        }
    }
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

    const Relayed relayed = serveUntilStopped(port, server, peer, options, context, signals);
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
