// The served bridge's parts without sockets: the Telnet session on
// libtelnet, the COM-PORT-OPTION answers and the queues to the relay.
#include "clientPeer.h"
#include "comPortOption.h"
#include "telnetSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using snctl::NodeAction;
using Kind = snctl::NodeAction::Kind;

constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;

// Records what the session makes of the client's bytes.
struct Recorder : snctl::TelnetHandler {
    Bytes data;
    Bytes sent;
    std::vector<Bytes> commands;  // command byte, then the value
    int agreed = 0;
    int breaks = 0;
    std::string error;

    void telnetData(const uint8_t* bytes, std::size_t length) override {
        data.insert(data.end(), bytes, bytes + length);
    }
    void telnetSend(const uint8_t* bytes, std::size_t length) override {
        sent.insert(sent.end(), bytes, bytes + length);
    }
    void comPortCommand(uint8_t command, const uint8_t* value, std::size_t length) override {
        Bytes body{command};
        body.insert(body.end(), value, value + length);
        commands.push_back(body);
    }
    void comPortAgreed() override { ++agreed; }
    void telnetBreak() override { ++breaks; }
    void telnetError(const char* message) override { error = message; }
};

// A client's stream: data with 0xFF doubled, a baud rate subnegotiation
// whose value holds a 0xFF, Telnet's BREAK and a NOP between data bytes.
const Bytes kStream = {'a', IAC, IAC, 'b', IAC, SB,  44,  1,   0,   IAC, IAC, 0, 3,
                       IAC, SE,  'c', IAC, 243, 'd', IAC, 241, IAC, IAC, 'e', 0, '\r'};
const Bytes kStreamData = {'a', IAC, 'b', 'c', 'd', IAC, 'e', 0, '\r'};

TEST(TelnetSession, SplitsAtEveryPositionGiveTheSameDataCommandsAndBreaks) {
    for (std::size_t cut = 0; cut <= kStream.size(); ++cut) {
        Recorder recorder;
        snctl::TelnetSession session(recorder);
        session.receive(kStream.data(), cut);
        session.receive(kStream.data() + cut, kStream.size() - cut);
        EXPECT_EQ(recorder.data, kStreamData) << "cut at " << cut;
        ASSERT_EQ(recorder.commands.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(recorder.commands[0], (Bytes{1, 0, IAC, 0, 3})) << "cut at " << cut;
        EXPECT_EQ(recorder.breaks, 1) << "cut at " << cut;
        EXPECT_EQ(recorder.error, "");
    }
    // One byte at a time too.
    Recorder recorder;
    snctl::TelnetSession session(recorder);
    for (const uint8_t byte : kStream) session.receive(&byte, 1);
    EXPECT_EQ(recorder.data, kStreamData);
}

TEST(TelnetSession, OffersItsOptionsAndRefusesUnknownOnesOnce) {
    Recorder recorder;
    snctl::TelnetSession session(recorder);
    session.start();
    const Bytes offers = {IAC, WILL, 0, IAC, DO,   0, IAC, WILL, 3,
                          IAC, DO,   3, IAC, WILL, 1, IAC, DO,   44};
    EXPECT_EQ(recorder.sent, offers);
    recorder.sent.clear();
    // Terminal type (24) and window size (31) are not ours: one refusal
    // each, and the client's acknowledgements get no answer, so nothing
    // loops.
    const Bytes unknown = {IAC, WILL, 24, IAC, DO, 31};
    session.receive(unknown.data(), unknown.size());
    EXPECT_EQ(recorder.sent, (Bytes{IAC, DONT, 24, IAC, WONT, 31}));
    recorder.sent.clear();
    const Bytes acknowledged = {IAC, WONT, 24, IAC, DONT, 31, IAC, DONT, 200};
    session.receive(acknowledged.data(), acknowledged.size());
    EXPECT_TRUE(recorder.sent.empty());
    // The client's side of COM-PORT-OPTION is agreed once, however asked.
    const Bytes comPort = {IAC, WILL, 44, IAC, DO, 44, IAC, WILL, 44};
    session.receive(comPort.data(), comPort.size());
    EXPECT_GE(recorder.agreed, 1);
    EXPECT_EQ(recorder.sent, (Bytes{IAC, WILL, 44})) << "the answer to DO; WILL was asked for";
}

TEST(TelnetSession, DoublesFfInDataAndInSubnegotiations) {
    Bytes out;
    const Bytes data = {1, IAC, IAC, 2};
    snctl::TelnetSession::escapeData(data.data(), data.size(), out);
    EXPECT_EQ(out, (Bytes{1, IAC, IAC, IAC, IAC, 2}));
    Recorder recorder;
    snctl::TelnetSession session(recorder);
    const Bytes mask = {IAC};
    session.sendComPort(111, mask.data(), mask.size());
    EXPECT_EQ(recorder.sent, (Bytes{IAC, SB, 44, 111, IAC, IAC, IAC, SE}));
}

TEST(TelnetSession, AnEndlessSubnegotiationIsAnErrorNotData) {
    Recorder recorder;
    snctl::TelnetSession session(recorder);
    const Bytes start = {IAC, SB, 44, 1};
    session.receive(start.data(), start.size());
    const Bytes filler(1024, 'x');
    for (int i = 0; i < 64 && recorder.error.empty(); ++i)
        session.receive(filler.data(), filler.size());
    EXPECT_NE(recorder.error, "");
    EXPECT_TRUE(recorder.commands.empty());
}

Bytes speedValue(uint32_t speed) {
    return {static_cast<uint8_t>(speed >> 24), static_cast<uint8_t>(speed >> 16),
            static_cast<uint8_t>(speed >> 8), static_cast<uint8_t>(speed)};
}

snctl::ComPortAnswer ask(snctl::ComPortOption& option, uint8_t command, const Bytes& value,
                         std::vector<NodeAction>* actions = nullptr) {
    std::vector<NodeAction> ignored;
    return option.command(command, value.data(), value.size(), actions ? *actions : ignored);
}

TEST(ComPortOption, AnswersEveryLineCommandWithTheValueInEffect) {
    snctl::ComPortOption option({9600, 'N', 1});
    EXPECT_EQ(ask(option, 1, speedValue(0)).value, speedValue(9600)) << "0 is a query";
    EXPECT_EQ(ask(option, 1, speedValue(115200)).command, 101);
    EXPECT_EQ(ask(option, 1, speedValue(115200)).value, speedValue(115200));
    EXPECT_EQ(ask(option, 1, speedValue(110)).value, speedValue(115200))
        << "110 is no whole number of quarters: the speed in effect";
    EXPECT_EQ(ask(option, 1, speedValue(300000)).value, speedValue(115200)) << "too fast";
    EXPECT_EQ(ask(option, 1, Bytes{1, 2}).value, speedValue(115200)) << "cut short";
    EXPECT_EQ(ask(option, 2, {7}).value, Bytes{8}) << "8 data bits only";
    EXPECT_EQ(ask(option, 2, {0}).value, Bytes{8});
    EXPECT_EQ(ask(option, 3, {3}).value, Bytes{3}) << "even";
    EXPECT_EQ(ask(option, 3, {4}).value, Bytes{3}) << "mark: the parity in effect";
    EXPECT_EQ(ask(option, 3, {5}).value, Bytes{3}) << "space: the parity in effect";
    EXPECT_EQ(ask(option, 3, {2}).value, Bytes{2}) << "odd";
    EXPECT_EQ(ask(option, 4, {2}).value, Bytes{2});
    EXPECT_EQ(ask(option, 4, {3}).value, Bytes{2}) << "1.5: the size in effect";
    EXPECT_EQ(ask(option, 4, {0}).value, Bytes{2});
    const auto line = option.takeLine();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, (snctl::PortLine{115200, 'O', 2}));
    EXPECT_FALSE(option.takeLine().has_value()) << "handed over once";
    const auto restore = option.restore();
    ASSERT_EQ(restore.size(), 1u);
    EXPECT_EQ(restore[0].kind, Kind::SetLine);
    EXPECT_EQ(restore[0].line, (snctl::PortLine{9600, 'N', 1}));
}

TEST(ComPortOption, ControlBreaksPurgesAndMasks) {
    snctl::ComPortOption option({9600, 'N', 1});
    std::vector<NodeAction> actions;
    EXPECT_EQ(ask(option, 5, {3}, &actions).value, Bytes{1}) << "hardware flow: none";
    EXPECT_EQ(ask(option, 5, {2}, &actions).value, Bytes{1}) << "XON/XOFF: none";
    EXPECT_EQ(ask(option, 5, {4}, &actions).value, Bytes{6}) << "no break";
    EXPECT_EQ(ask(option, 5, {5}, &actions).value, Bytes{5});
    EXPECT_EQ(ask(option, 5, {5}, &actions).value, Bytes{5});
    EXPECT_EQ(ask(option, 5, {4}, &actions).value, Bytes{5});
    EXPECT_EQ(ask(option, 5, {9}, &actions).value, Bytes{9}) << "DTR off, kept";
    EXPECT_EQ(ask(option, 5, {7}, &actions).value, Bytes{9});
    EXPECT_EQ(ask(option, 5, {11}, &actions).value, Bytes{11});
    EXPECT_EQ(ask(option, 12, {3}, &actions).value, Bytes{3});
    ASSERT_EQ(actions.size(), 3u) << "one break start, then both purges";
    EXPECT_EQ(actions[0].kind, Kind::BreakOn);
    EXPECT_EQ(actions[1].kind, Kind::PurgeReceive);
    EXPECT_EQ(actions[2].kind, Kind::PurgeTransmit);
    const auto restore = option.restore();
    ASSERT_EQ(restore.size(), 1u) << "the break ends when the client goes; the line was kept";
    EXPECT_EQ(restore[0].kind, Kind::BreakOff);

    EXPECT_FALSE(option.wantsLineState()) << "no line state until asked";
    EXPECT_EQ(ask(option, 10, {0x0A}).value, Bytes{0x0A});
    EXPECT_TRUE(option.wantsLineState());
    EXPECT_EQ(option.lineState(0x1E), 0x0A) << "overrun and framing only";
    EXPECT_EQ(option.modemState(), 0xB0) << "CTS, DSR, carrier";
    EXPECT_EQ(ask(option, 11, {0x10}).value, Bytes{0x10});
    EXPECT_EQ(option.modemState(), 0x10);
    EXPECT_EQ(ask(option, 0, {}).command, 100) << "the signature";
    EXPECT_EQ(ask(option, 6, {1}).command, 0) << "notifications are not answered";
}

TEST(ClientPeer, ActionsWaitForTheBytesBeforeThemAndABurstIsOneLine) {
    snctl::ClientPeer peer(true, false);
    peer.connect();
    const Bytes first = {'a', 'b', 'c'};
    peer.pushData(first.data(), first.size());
    peer.pushAction({Kind::SetLine, {19200, 'N', 1}});
    peer.pushAction({Kind::SetLine, {19200, 'E', 2}});
    peer.pushData(first.data(), 1);
    peer.pushAction({Kind::BreakOn, {}});
    uint8_t buffer[16];
    std::optional<NodeAction> action;
    EXPECT_EQ(peer.takeInput(buffer, 2, action), 2u);
    EXPECT_FALSE(action.has_value());
    EXPECT_EQ(peer.takeInput(buffer, sizeof buffer, action), 1u) << "up to the action";
    ASSERT_TRUE(action.has_value());
    EXPECT_EQ(action->line, (snctl::PortLine{19200, 'E', 2})) << "the later one replaced it";
    action.reset();
    EXPECT_EQ(peer.takeInput(buffer, sizeof buffer, action), 1u);
    ASSERT_TRUE(action.has_value());
    EXPECT_EQ(action->kind, Kind::BreakOn);
}

// Actions coalesce to one of each kind, placed after the bytes pushed
// before the latest, and a disconnect leaves nothing for the next client.
TEST(ClientPeer, ActionsCoalesceToOneOfEachKindAndNothingOutlivesTheClient) {
    snctl::ClientPeer peer(true, false);
    peer.connect();
    uint8_t buffer[16];
    std::optional<NodeAction> action;
    const auto takeActions = [&] {
        std::vector<Kind> kinds;
        for (int i = 0; i < 20; ++i) {
            action.reset();
            peer.takeInput(buffer, sizeof buffer, action);
            if (action) kinds.push_back(action->kind);
        }
        return kinds;
    };
    for (int i = 0; i < 10000; ++i) peer.pushAction({Kind::BreakPulse, {}});
    EXPECT_EQ(takeActions(), std::vector<Kind>{Kind::BreakPulse}) << "one pulse, not 10000";

    peer.pushAction({Kind::BreakOn, {}});
    peer.pushAction({Kind::BreakOff, {}});
    peer.pushAction({Kind::BreakOn, {}});
    peer.pushAction({Kind::PurgeReceive, {}});
    peer.pushAction({Kind::PurgeReceive, {}});
    EXPECT_EQ(takeActions(), (std::vector<Kind>{Kind::BreakOff, Kind::BreakOn, Kind::PurgeReceive}))
        << "the break is left on, as the client last asked";

    const Bytes x = {'x'};
    peer.pushAction({Kind::SetLine, {19200, 'N', 1}});
    peer.pushData(x.data(), x.size());
    peer.pushAction({Kind::SetLine, {38400, 'E', 2}});
    EXPECT_EQ(peer.takeInput(buffer, sizeof buffer, action), 1u) << "the byte before the line";
    ASSERT_TRUE(action.has_value());
    EXPECT_EQ(action->line, (snctl::PortLine{38400, 'E', 2})) << "the latest line wins";
    EXPECT_TRUE(takeActions().empty());

    peer.pushData(x.data(), x.size());
    peer.pushAction({Kind::BreakPulse, {}});
    peer.pushData(x.data(), x.size());
    peer.pushAction({Kind::PurgeTransmit, {}});
    const snctl::ClientPeer::Abandoned left = peer.disconnect(true);
    EXPECT_EQ(left.bytes, 2u);
    EXPECT_EQ(left.actions, 2u);
    action.reset();
    EXPECT_EQ(peer.takeInput(buffer, sizeof buffer, action), 0u) << "nothing for the next client";
    EXPECT_FALSE(action.has_value());

    // A client that closed in order: what it sent still goes.
    peer.connect();
    peer.pushData(x.data(), x.size());
    peer.pushAction({Kind::BreakPulse, {}});
    EXPECT_EQ(peer.disconnect(false).bytes, 0u);
    EXPECT_EQ(peer.takeInput(buffer, sizeof buffer, action), 1u);
    ASSERT_TRUE(action.has_value());
    EXPECT_EQ(action->kind, Kind::BreakPulse);
}

TEST(ClientPeer, NodeBytesAreDroppedOrKeptWhileNoClientAndEscapedForOne) {
    const Bytes data = {1, IAC, 2};
    snctl::ClientPeer dropping(true, false);
    EXPECT_EQ(dropping.giveOutput(data.data(), data.size()), 3u);
    EXPECT_EQ(dropping.dropped(), 3u);
    EXPECT_TRUE(dropping.outboundEmpty());

    snctl::ClientPeer keeping(true, true);
    const Bytes big(snctl::kOutboundLimit + 10, 'k');
    EXPECT_EQ(keeping.giveOutput(big.data(), big.size()), big.size());
    EXPECT_EQ(keeping.dropped(), 10u) << "64 KiB kept, the rest dropped and counted";
    keeping.connect();
    Bytes out;
    keeping.takeOutbound(out, snctl::kOutboundLimit * 2);
    EXPECT_EQ(out.size(), snctl::kOutboundLimit);
    EXPECT_EQ(keeping.giveOutput(data.data(), data.size()), 3u);
    out.clear();
    keeping.takeOutbound(out, 100);
    EXPECT_EQ(out, (Bytes{1, IAC, IAC, 2}));
    // A full queue takes nothing more while a client is there.
    EXPECT_EQ(keeping.giveOutput(big.data(), big.size()), snctl::kOutboundLimit);
    EXPECT_EQ(keeping.giveOutput(data.data(), data.size()), 0u);
}

}  // namespace
