// "port P ..." commands: line settings, line control and byte transfer on
// one virtual port of the node.
#include "commandArguments.h"
#include "failure.h"
#include "numberParsing.h"
#include "oneShotCommands.h"
#include "relayNames.h"
#include "textEscapes.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <string>

namespace snctl {

namespace {

constexpr long kDefaultDrainMs = 5000;

struct PortCall {
    const Arguments& args;  // after the sub-command word
    CommandContext& context;
    uint16_t number;
    std::string name;  // "port N SUB", for messages
    SnSerial* open() const { return context.access.port(number); }
};

char parityArgument(const std::string& text) {
    if (text == "N" || text == "E" || text == "O" || text == "n" || text == "e" || text == "o") {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    }
    throw UsageError("parity must be N, E or O, not '" + text + "'");
}

void portInit(const PortCall& call) {
    expectArgumentCount(call.args, 1, 3, call.name, "init BAUD [N|E|O] [1|2]");
    // Slower speeds would stop the line, faster ones reach the node cut to
    // a wrong one.
    const long speed =
        requireInteger(call.args[0], SN_MIN_PORT_SPEED, SN_MAX_PORT_SPEED, "port speed");
    const char parity = call.args.size() > 1 ? parityArgument(call.args[1]) : 'N';
    const long stopBits =
        call.args.size() > 2 ? requireInteger(call.args[2], 1, 2, "stop bits") : 1;
    check(snSerInit(call.open(), static_cast<int>(speed), parity, static_cast<int>(stopBits)),
          "cannot set the line of virtual port " + std::to_string(call.number));
    call.context.report.number("port", call.number);
    call.context.report.number("baud", speed);
    call.context.report.text("format", std::string("8") + parity + std::to_string(stopBits));
}

void portDrain(const PortCall& call) {
    expectArgumentCount(call.args, 0, 1, call.name, "drain [MS]");
    const long ms =
        call.args.empty() ? kDefaultDrainMs : requireInteger(call.args[0], 0, 600000, "drain time");
    SnSerial* port = call.open();
    const auto start = std::chrono::steady_clock::now();
    // The library counts its budget in hundredths of a second.
    const uint32_t budget = static_cast<uint32_t>((ms + 9) / 10);
    check(snSerDrain(port, budget), "cannot drain virtual port " + std::to_string(call.number));
    const auto waited = std::chrono::steady_clock::now() - start;
    call.context.report.number("port", call.number);
    // The library does not say why it returned; only a return before the
    // budget ran out means the busy flag was seen clear.
    if (call.number == 0) {
        call.context.report.text("drain", "nothing to wait on: port 0 has no busy flag");
    } else if (budget != 0 && waited < std::chrono::milliseconds(10 * budget)) {
        call.context.report.text("drain", "nothing left to send");
    } else {
        call.context.report.text(
            "drain", "waited up to " + std::to_string(10 * budget) + " ms, may still be sending");
    }
}

void portFlush(const PortCall& call, bool input) {
    expectArgumentCount(call.args, 0, 0, call.name, "no further arguments");
    SnSerial* port = call.open();
    check(input ? snSerIFlush(port) : snSerOFlush(port),
          std::string("cannot flush the ") + (input ? "input" : "output") + " of virtual port " +
              std::to_string(call.number));
    call.context.report.number("port", call.number);
    call.context.report.text("flushed", input ? "input" : "output");
}

void portBreak(const PortCall& call) {
    expectArgumentCount(call.args, 1, 1, call.name, "break MS (0-65535)");
    const long ms = requireInteger(call.args[0], 0, 0xFFFF, "break time");
    check(snSerBreak(call.open(), static_cast<uint16_t>(ms)),
          "cannot send a break on virtual port " + std::to_string(call.number));
    call.context.report.number("port", call.number);
    call.context.report.number("break_ms", ms);
}

void portErrors(const PortCall& call) {
    expectArgumentCount(call.args, 0, 0, call.name, "no further arguments");
    uint16_t flags = 0;
    check(snSerGetErrFlags(call.open(), &flags),
          "cannot read the error flags of virtual port " + std::to_string(call.number));
    call.context.report.number("port", call.number);
    call.context.report.hex("error_flags", flags, 4);
}

void portClearErrors(const PortCall& call) {
    expectArgumentCount(call.args, 1, 1, call.name, "clear-errors MASK (0-31)");
    const long mask = requireInteger(call.args[0], 0, 31, "error mask");
    check(snSerClearErrFlags(call.open(), static_cast<uint16_t>(mask)),
          "cannot clear the error flags of virtual port " + std::to_string(call.number));
    call.context.report.number("port", call.number);
    call.context.report.hex("cleared", static_cast<unsigned long>(mask), 2);
}

void portSend(const PortCall& call) {
    expectArgumentCount(call.args, 1, 1, call.name, "send TEXT");
    const std::vector<uint8_t> bytes = decodeEscapes(call.args[0]);
    SnSerial* port = call.open();
    errno = 0;
    const int sent =
        bytes.empty() ? 0 : snSerWrite(port, bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (static_cast<std::size_t>(sent) < bytes.size()) {
        // errno is 0 when the node answered but kept its buffer full.
        throw DeviceError("virtual port " + std::to_string(call.number) + " took only " +
                              std::to_string(sent) + " of " + std::to_string(bytes.size()) +
                              " bytes",
                          errno);
    }
    call.context.report.number("port", call.number);
    call.context.report.number("sent", sent);
}

void reportReceived(const PortCall& call, const std::vector<uint8_t>& bytes) {
    if (call.context.options.json) {
        call.context.report.number("port", call.number);
        call.context.report.number("count", static_cast<long long>(bytes.size()));
    }
    call.context.report.bytes("data", bytes);
}

void portRecv(const PortCall& call) {
    expectArgumentCount(call.args, 0, 1, call.name, "recv [MS]");
    const long ms = call.args.empty() ? 0 : requireInteger(call.args[0], 0, 600000, "receive time");
    std::vector<uint8_t> bytes;
    try {
        receiveFor(call.open(), ms, bytes);
    } catch (const DeviceError&) {
        reportReceived(call, bytes);  // shown before the failure, not lost with it
        throw;
    }
    reportReceived(call, bytes);
}

}  // namespace

void runPort(const Arguments& args, CommandContext& context) {
    if (args.size() < 2) throw UsageError("port: expected port P COMMAND ... (see snctl --help)");
    const auto number =
        static_cast<uint16_t>(requireInteger(args[0], 0, SN_PORTS - 1, "virtual port"));
    const std::string& sub = args[1];
    const Arguments rest(args.begin() + 2, args.end());
    const PortCall call{rest, context, number, "port " + args[0] + " " + sub};
    if (sub == "init") return portInit(call);
    if (sub == "drain") return portDrain(call);
    if (sub == "iflush" || sub == "oflush") return portFlush(call, sub == "iflush");
    if (sub == "break") return portBreak(call);
    if (sub == "errors") return portErrors(call);
    if (sub == "clear-errors") return portClearErrors(call);
    if (sub == "send") return portSend(call);
    if (sub == "recv") return portRecv(call);
    throw UsageError("port: unknown command '" + sub +
                     "' (init, drain, iflush, oflush, break, errors, clear-errors, send, recv)");
}

}  // namespace snctl
