#include "comPortOption.h"

#include "snLimits.h"

namespace snctl {

namespace {

using namespace comport;

// On the wire: parity 1 none, 2 odd, 3 even (4 mark and 5 space the node
// cannot do); stop size 1, 2, 3 (= 1.5, which it cannot do either).
constexpr uint8_t kParityNone = 1, kParityOdd = 2, kParityEven = 3;
constexpr uint8_t kDataBits = 8;  // the node's only size

// SET-CONTROL values.
constexpr uint8_t kFlowNone = 1, kFlowHardware = 3;
constexpr uint8_t kBreakQuery = 4, kBreakOn = 5, kBreakOff = 6;
constexpr uint8_t kDtrQuery = 7, kDtrOn = 8, kDtrOff = 9;
constexpr uint8_t kRtsQuery = 10, kRtsOn = 11, kRtsOff = 12;
constexpr uint8_t kInboundFlowQuery = 13, kInboundFlowNone = 14, kInboundFlowLast = 19;

constexpr uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;

constexpr uint8_t kCts = 0x10, kDsr = 0x20, kCarrier = 0x80;

const char kSignatureText[] = "snctl bridge";

// A speed the node keeps exactly: in its range and a whole number of quarters.
bool nodeTakes(uint32_t speed) {
    return speed >= SN_MIN_PORT_SPEED && speed <= SN_MAX_PORT_SPEED && speed % 4 == 0;
}

uint8_t parityCode(char letter) {
    return letter == 'E' ? kParityEven : letter == 'O' ? kParityOdd : kParityNone;
}

ComPortAnswer answer(uint8_t command, uint8_t value) {
    return ComPortAnswer{static_cast<uint8_t>(command + kAnswerOffset), {value}};
}

}  // namespace

ComPortAnswer ComPortOption::command(uint8_t command, const uint8_t* value, std::size_t length,
                                     std::vector<NodeAction>& actions) {
    const uint8_t first = length > 0 ? value[0] : 0;
    switch (command) {
        case kSignature: {
            ComPortAnswer signature{kSignature + kAnswerOffset, {}};
            signature.value.assign(kSignatureText, kSignatureText + sizeof kSignatureText - 1);
            return signature;
        }
        case kSetBaudRate:
            return baudRate(value, length);
        case kSetDataSize:
            return answer(command, kDataBits);
        case kSetParity:
            return answer(command, parity(first));
        case kSetStopSize:
            return answer(command, stopSize(first));
        case kSetControl:
            return answer(command, control(first, actions));
        case kFlowSuspend:
        case kFlowResume:
            suspended_ = command == kFlowSuspend;
            return ComPortAnswer{};  // no answer: a notification
        case kSetLineStateMask:
            lineMask_ = first;
            return answer(command, lineMask_);
        case kSetModemStateMask:
            modemMask_ = first;
            return answer(command, modemMask_);
        case kPurgeData:
            return answer(command, purge(first, actions));
        default:
            return ComPortAnswer{};  // notifications are the server's to send
    }
}

ComPortAnswer ComPortOption::baudRate(const uint8_t* value, std::size_t length) {
    if (length == 4) {
        const uint32_t asked = (uint32_t{value[0]} << 24) | (uint32_t{value[1]} << 16) |
                               (uint32_t{value[2]} << 8) | uint32_t{value[3]};
        if (nodeTakes(asked)) requested_.baud = asked;
    }
    const auto speed = static_cast<uint32_t>(requested_.baud);
    return ComPortAnswer{kSetBaudRate + kAnswerOffset,
                         {static_cast<uint8_t>(speed >> 24), static_cast<uint8_t>(speed >> 16),
                          static_cast<uint8_t>(speed >> 8), static_cast<uint8_t>(speed)}};
}

uint8_t ComPortOption::parity(uint8_t asked) {
    if (asked == kParityNone) requested_.parity = 'N';
    if (asked == kParityOdd) requested_.parity = 'O';
    if (asked == kParityEven) requested_.parity = 'E';
    return parityCode(requested_.parity);
}

uint8_t ComPortOption::stopSize(uint8_t asked) {
    if (asked == 1 || asked == 2) requested_.stopBits = asked;
    return static_cast<uint8_t>(requested_.stopBits);
}

uint8_t ComPortOption::control(uint8_t asked, std::vector<NodeAction>& actions) {
    if (asked <= kFlowHardware) return kFlowNone;  // the node has no flow control
    if (asked == kBreakOn || asked == kBreakOff) {
        const bool on = asked == kBreakOn;
        if (on != breakOn_) {
            breakOn_ = on;
            actions.push_back({on ? NodeAction::Kind::BreakOn : NodeAction::Kind::BreakOff, {}});
        }
    }
    if (asked >= kBreakQuery && asked <= kBreakOff) return breakOn_ ? kBreakOn : kBreakOff;
    if (asked == kDtrOn || asked == kDtrOff) dtr_ = asked == kDtrOn;
    if (asked >= kDtrQuery && asked <= kDtrOff) return dtr_ ? kDtrOn : kDtrOff;
    if (asked == kRtsOn || asked == kRtsOff) rts_ = asked == kRtsOn;
    if (asked >= kRtsQuery && asked <= kRtsOff) return rts_ ? kRtsOn : kRtsOff;
    if (asked >= kInboundFlowQuery && asked <= kInboundFlowLast) return kInboundFlowNone;
    return kFlowNone;
}

uint8_t ComPortOption::purge(uint8_t asked, std::vector<NodeAction>& actions) {
    if (asked == kPurgeReceive || asked == kPurgeBoth)
        actions.push_back({NodeAction::Kind::PurgeReceive, {}});
    if (asked == kPurgeTransmit || asked == kPurgeBoth)
        actions.push_back({NodeAction::Kind::PurgeTransmit, {}});
    return asked;
}

std::optional<PortLine> ComPortOption::takeLine() {
    if (requested_ == handedOver_) return std::nullopt;
    handedOver_ = requested_;
    return requested_;
}

std::vector<NodeAction> ComPortOption::restore() const {
    std::vector<NodeAction> actions;
    if (breakOn_) actions.push_back({NodeAction::Kind::BreakOff, {}});
    if (!(handedOver_ == original_)) actions.push_back({NodeAction::Kind::SetLine, original_});
    return actions;
}

uint8_t ComPortOption::modemState() const {
    return static_cast<uint8_t>((kCts | kDsr | kCarrier) & modemMask_);
}

}  // namespace snctl
