// The daemon's pure parts: Modbus TCP framing, what may go on the line and
// what counts as its answer, the fair queue and its hold, the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "bus.h"
#include "clientTimeout.h"
#include "fairQueue.h"
#include "lineTime.h"
#include "mbapFrame.h"
#include "options.h"
#include "requestCheck.h"
#include "snline/pduShape.h"

namespace {

using Bytes = std::vector<uint8_t>;
using snbusd::FrameStatus;

TEST(MbapFrames, AreTakenWholeAndAnsweredWithTheirIdAndUnit) {
    const Bytes stream{0x12, 0x34, 0, 0, 0, 6, 7, 3, 0, 15, 0, 2, 0xAB};  // and a byte of the next
    EXPECT_EQ(snbusd::takeFrame(stream.data(), 6).status, FrameStatus::NeedMore);
    EXPECT_EQ(snbusd::takeFrame(stream.data(), 11).status, FrameStatus::NeedMore);
    const snbusd::Frame frame = snbusd::takeFrame(stream.data(), stream.size());
    ASSERT_EQ(frame.status, FrameStatus::Complete);
    EXPECT_EQ(frame.consumed, 12u);
    EXPECT_EQ(frame.request.transaction, 0x1234);
    EXPECT_EQ(frame.request.unit, 7);
    EXPECT_EQ(frame.request.pdu, (Bytes{3, 0, 15, 0, 2}));
    EXPECT_EQ(snbusd::answerFrame(frame.request, {3, 4, 0, 1, 0, 2}),
              (Bytes{0x12, 0x34, 0, 0, 0, 7, 7, 3, 4, 0, 1, 0, 2}));
    EXPECT_EQ(snbusd::exceptionPdu(3, 0x0B), (Bytes{0x83, 0x0B}));
}

TEST(MbapFrames, OtherProtocolsAndLengthsOutsideTwoTo254AreBad) {
    for (const Bytes& bad :
         {Bytes{0, 1, 0, 7, 0, 6, 1, 3, 0, 0, 0, 1}, Bytes{0, 1, 0, 0, 0x03, 0xE8, 1, 3},
          Bytes{0, 1, 0, 0, 0, 1, 1}, Bytes{0, 1, 0, 0, 0, 255, 1}}) {
        const snbusd::Frame frame = snbusd::takeFrame(bad.data(), bad.size());
        EXPECT_EQ(frame.status, FrameStatus::Bad) << frame.error;
        EXPECT_FALSE(frame.error.empty());
    }
    const Bytes longest = [] {
        Bytes b{0, 1, 0, 0, 0, 254, 1, 16};
        b.resize(6 + 254, 0);
        return b;
    }();
    EXPECT_EQ(snbusd::takeFrame(longest.data(), longest.size()).status, FrameStatus::Complete);
}

snbusd::Request request(uint8_t unit, Bytes pdu) {
    return snbusd::Request{1, unit, std::move(pdu)};
}

TEST(RequestCheck, RefusesWhatMustNotReachTheLine) {
    const snbusd::Policy open;
    EXPECT_EQ(snbusd::refusal(request(1, {3, 0, 31, 0, 8}), open), 0);
    EXPECT_EQ(
        snbusd::refusal(request(1, {23, 1, 6, 0, 11, 1, 134, 0, 2, 4, 0, 2, 0x61, 0x62}), open), 0);
    EXPECT_EQ(snbusd::refusal(request(1, {3, 0, 31, 0}), open), 0x03) << "short";
    EXPECT_EQ(snbusd::refusal(request(1, {16, 0, 47, 0, 1, 2, 0}), open), 0x03) << "byte count";
    EXPECT_EQ(snbusd::refusal(request(1, {43, 14, 1, 0}), open), 0x01) << "not carried";
    EXPECT_EQ(snbusd::refusal(request(248, {3, 0, 0, 0, 1}), open), 0x0B);
    EXPECT_EQ(snbusd::refusal(request(0, {5, 0, 3, 0xFF, 0}), open), 0) << "broadcast write";
    EXPECT_EQ(snbusd::refusal(request(0, {3, 0, 15, 0, 1}), open), 0x01) << "broadcast read";

    const snbusd::Policy readOnly{true, {}};
    EXPECT_EQ(snbusd::refusal(request(1, {4, 0, 0, 0, 1}), readOnly), 0);
    EXPECT_EQ(snbusd::refusal(request(1, {5, 0, 3, 0xFF, 0}), readOnly), 0x01);
    EXPECT_EQ(snbusd::refusal(request(1, {23, 1, 6, 0, 1, 1, 134, 0, 1, 2, 0, 0}), readOnly), 0x01);

    const snbusd::Policy someUnits{false, snbusd::parseUnits("1,3-5")};
    for (const int unit : {1, 3, 4, 5})
        EXPECT_EQ(snbusd::refusal(request(static_cast<uint8_t>(unit), {3, 0, 0, 0, 1}), someUnits),
                  0)
            << unit;
    for (const int unit : {0, 2, 6, 247})
        EXPECT_EQ(
            snbusd::refusal(request(static_cast<uint8_t>(unit), {6, 0, 21, 0, 200}), someUnits),
            0x0B)
            << unit;
}

TEST(RequestCheck, TakesOnlyAnAnswerThatFitsItsRequest) {
    const Bytes read{3, 0, 31, 0, 2};
    EXPECT_TRUE(snline::answers(read.data(), read.size(), Bytes{3, 4, 0, 1, 0, 2}.data(), 6));
    EXPECT_TRUE(snline::answers(read.data(), read.size(), Bytes{0x83, 2}.data(), 2))
        << "the node's exception";
    EXPECT_FALSE(snline::answers(read.data(), read.size(), Bytes{3, 2, 0, 1}.data(), 4))
        << "one register short";
    EXPECT_FALSE(snline::answers(read.data(), read.size(), Bytes{4, 4, 0, 1, 0, 2}.data(), 6))
        << "other function";
    EXPECT_FALSE(snline::answers(read.data(), read.size(), Bytes{0x83, 2, 0}.data(), 3));
    const Bytes coils{1, 0, 0, 0, 9};  // 9 coils: 2 bytes
    EXPECT_TRUE(snline::answers(coils.data(), coils.size(), Bytes{1, 2, 0xFF, 1}.data(), 4));
    const Bytes single{6, 0, 21, 0, 200};
    EXPECT_TRUE(snline::answers(single.data(), single.size(), single.data(), 5));
    EXPECT_FALSE(snline::answers(single.data(), single.size(), Bytes{6, 0, 21, 0, 201}.data(), 5))
        << "not the echo";
    const Bytes many{16, 0, 47, 0, 2, 4, 0, 1, 0, 2};
    EXPECT_TRUE(snline::answers(many.data(), many.size(), Bytes{16, 0, 47, 0, 2}.data(), 5));
    EXPECT_FALSE(snline::answers(many.data(), many.size(), Bytes{16, 0, 47, 0, 1}.data(), 5));
    const Bytes both{23, 1, 6, 0, 1, 1, 134, 0, 1, 2, 0, 0};
    EXPECT_TRUE(snline::answers(both.data(), both.size(), Bytes{23, 2, 0, 5}.data(), 4));
    EXPECT_EQ(snbusd::broadcastAnswer(many), (Bytes{16, 0, 47, 0, 2}));
    // A request too short for its function has no answer to fit (and is not
    // read past its end).
    const Bytes shortRead{3, 0};
    EXPECT_FALSE(snline::answers(shortRead.data(), shortRead.size(), Bytes{3, 2, 0, 1}.data(), 4));
}

snbusd::Job job(snbusd::ClientId client, uint16_t id) {
    return snbusd::Job{client, snbusd::Request{id, 1, {3, 0, 15, 0, 1}}, {}};
}

// A 240-byte block written to a port with function 23 (its count register
// first, one register read back), the way a bridge streams.
snbusd::Job block(snbusd::ClientId client, uint16_t id) {
    std::vector<uint8_t> pdu{23, 1, 6, 0, 1, 1, 134, 0, 121, 242, 0, 240};
    pdu.resize(pdu.size() + 240, '7');
    return snbusd::Job{client, snbusd::Request{id, 1, std::move(pdu)}, {}};
}

std::chrono::nanoseconds bitsAt(int64_t bits, int baud) {
    return std::chrono::nanoseconds(bits * 1'000'000'000 / baud);
}

using Served = std::vector<std::pair<snbusd::ClientId, uint16_t>>;

Served serveAll(snbusd::FairQueue& queue) {
    Served served;
    while (auto next = queue.next()) served.emplace_back(next->client, next->request.transaction);
    return served;
}

TEST(ClientTimeout, TakesOneWordOfMillisecondsOnlyWithNothingWaiting) {
    const auto ask = [](std::vector<uint8_t> pdu, std::size_t inFlight = 0) {
        return snbusd::answerClientTimeout(snbusd::Request{1, 0, std::move(pdu)}, inFlight);
    };
    EXPECT_FALSE(snbusd::asksForClientTimeout(snbusd::Request{1, 1, {3, 0, 15, 0, 1}}));
    EXPECT_TRUE(snbusd::asksForClientTimeout(snbusd::Request{1, 1, {0x41}}));
    const auto taken = ask({0x41, 0x01, 0x2C});
    EXPECT_EQ(taken.pdu, (std::vector<uint8_t>{0x41, 1}));
    EXPECT_EQ(taken.timeout, std::chrono::milliseconds(300));
    EXPECT_EQ(ask({0x41, 0xFF, 0xFF}).timeout, std::chrono::milliseconds(65535));
    for (const std::vector<uint8_t>& bad :
         {std::vector<uint8_t>{0x41}, {0x41, 0}, {0x41, 0, 0}, {0x41, 0, 1, 0}}) {
        const auto refused = ask(bad);
        EXPECT_EQ(refused.pdu, (std::vector<uint8_t>{0xC1, 0x03})) << bad.size();
        EXPECT_EQ(refused.timeout.count(), 0);
    }
    // Answered at once, it would pass the answers still to come.
    const auto busy = ask({0x41, 0, 50}, 1);
    EXPECT_EQ(busy.pdu, (std::vector<uint8_t>{0xC1, 0x06}));
    EXPECT_EQ(busy.timeout.count(), 0);
}

TEST(LineTime, CountsBothFramesAndTheirSilencesAtTheLineSpeed) {
    // Out 8 + 3.5 characters, back 7 + 3.5, 10 bits each.
    const snbusd::Request read{1, 1, {3, 0, 15, 0, 1}};
    EXPECT_EQ(snbusd::lineTime(read, 9600), bitsAt(220, 9600));
    EXPECT_EQ(snbusd::lineTime(snbusd::Request{1, 1, {6, 0, 1, 0, 1}}, 9600), bitsAt(230, 9600));
    EXPECT_EQ(snbusd::lineTime(snbusd::Request{1, 0, {6, 0, 1, 0, 1}}, 9600), bitsAt(115, 9600))
        << "a broadcast has no answer";
    EXPECT_EQ(snbusd::lineTime(block(1, 0).request, 115200), bitsAt(2690, 115200));
}

TEST(FairQueue, EqualClientsAlternateEachInItsOwnOrder) {
    snbusd::FairQueue queue(115200);
    for (uint16_t i = 0; i < 4; ++i) queue.add(job(1, i));  // several requests at once
    queue.add(job(2, 100));
    queue.add(job(3, 200));
    EXPECT_EQ(queue.waiting(), 6u);
    EXPECT_EQ(serveAll(queue), (Served{{1, 0}, {2, 100}, {3, 200}, {1, 1}, {1, 2}, {1, 3}}));
    EXPECT_EQ(queue.waiting(), 0u);
    snbusd::FairQueue streams(115200);
    for (uint16_t i = 0; i < 3; ++i) {
        streams.add(block(1, i));
        streams.add(block(2, i));
    }
    EXPECT_EQ(serveAll(streams), (Served{{1, 0}, {2, 0}, {1, 1}, {2, 1}, {1, 2}, {2, 2}}));
}

TEST(FairQueue, ALightClientGoesBeforeTheNextBlockOfEveryStreamingClient) {
    snbusd::FairQueue queue(115200);
    for (uint16_t i = 0; i < 3; ++i) {
        queue.add(block(1, i));
        queue.add(block(2, i));
    }
    ASSERT_EQ(queue.next()->client, 1u);  // on the line
    queue.add(job(3, 100));               // a terminal's read
    EXPECT_EQ(queue.next()->request.transaction, 100);
    EXPECT_EQ(queue.next()->client, 2u);
    queue.add(job(3, 101));  // its keystroke, once the read was answered
    EXPECT_EQ(serveAll(queue), (Served{{3, 101}, {1, 1}, {2, 1}, {1, 2}, {2, 2}}));
    // Turns go by line time: a block weighs 2690 bits, a small read 220, so
    // the reads stamped 0 to 12 reads' time go before the second block.
    snbusd::FairQueue weighed(115200);
    for (uint16_t i = 0; i < 20; ++i) weighed.add(job(3, i));
    weighed.add(block(1, 0));
    weighed.add(block(1, 1));
    const Served served = serveAll(weighed);
    const auto second = std::find(served.begin(), served.end(), Served::value_type{1, 1});
    EXPECT_EQ(std::count_if(served.begin(), second, [](const auto& s) { return s.first == 3; }),
              13);
}

TEST(FairQueue, AClientBehindItsShareIsToldSoAndOneThatGoesTakesItsRequests) {
    snbusd::FairQueue queue(115200);
    queue.add(block(1, 0));
    queue.next();
    queue.add(job(2, 100));
    queue.add(block(1, 1));
    queue.next();  // the read on the line, the next block waiting
    const auto blockTime = bitsAt(2690, 115200);
    EXPECT_TRUE(queue.wouldGoFirst(2, blockTime));
    EXPECT_FALSE(queue.wouldGoFirst(2, blockTime * 2)) << "only before a long transaction";
    EXPECT_FALSE(queue.wouldGoFirst(1, {})) << "nothing of another client waits";
    queue.add(job(2, 101));
    queue.add(block(1, 2));
    queue.dropClient(1);
    EXPECT_FALSE(queue.wouldGoFirst(1, {})) << "a client that has gone is not waited for";
    EXPECT_EQ(queue.waiting(), 1u);
    EXPECT_EQ(queue.waitingFor(1), 0u);
    EXPECT_EQ(queue.next()->request.transaction, 101);
    EXPECT_FALSE(queue.next());
    queue.add(block(1, 3));  // back with a clean account: first in turn
    queue.add(job(2, 102));
    EXPECT_EQ(queue.next()->client, 1u);
}

// A client streaming blocks beside one whose requests go to a silent unit,
// each holding the line for its timeout and probe (2.25 x 300 ms), `depth`
// of them waiting at once; the streamer waits for its answer before the
// next block.  What each got of 20 s of line time, charged as measured.
struct BesideADeadUnit {
    int blocks = 0, deadTurns = 0;
    std::chrono::nanoseconds blocksTime{0}, deadTime{0}, longestWait{0};
};

BesideADeadUnit streamBesideADeadUnit(std::size_t depth) {
    using namespace std::chrono_literals;
    const auto blockTime = snbusd::lineTime(block(1, 0).request, 115200);
    const std::chrono::nanoseconds deadTime = 675ms;
    snbusd::FairQueue queue(115200);
    queue.add(block(1, 0));
    for (uint16_t i = 0; i < depth; ++i) queue.add(job(2, i));
    BesideADeadUnit got;
    std::chrono::nanoseconds clock{0}, lastBlock{0};
    while (clock < 20s) {
        const auto next = queue.next();
        if (!next) break;
        const bool streamer = next->client == 1;
        const auto held = streamer ? blockTime : deadTime;
        queue.offTheLine(held);
        clock += held;
        if (streamer) {
            got.longestWait = std::max(got.longestWait, clock - lastBlock);
            lastBlock = clock;
            got.blocksTime += held;
            ++got.blocks;
        } else {
            got.deadTime += held;
            ++got.deadTurns;
        }
        queue.add(streamer ? block(1, 0) : job(2, 0));
    }
    return got;
}

TEST(FairQueue, AClientWhoseRequestsHoldTheLineLongIsChargedWhatTheyHeld) {
    using namespace std::chrono_literals;
    const auto blockTime = snbusd::lineTime(block(1, 0).request, 115200);
    for (const std::size_t depth : {1u, 4u}) {
        const BesideADeadUnit got = streamBesideADeadUnit(depth);
        const double deadShare = static_cast<double>(got.deadTime.count()) /
                                 static_cast<double>((got.deadTime + got.blocksTime).count());
        std::printf(
            "%zu waiting at the dead unit: %d blocks, %d dead turns, dead share %.2f, "
            "the streamer's longest wait %.0f ms\n",
            depth, got.blocks, got.deadTurns, deadShare,
            std::chrono::duration<double, std::milli>(got.longestWait).count());
        EXPECT_LE(got.longestWait, 675ms + blockTime) << "one dead turn between blocks at most";
        EXPECT_NEAR(deadShare, 0.5, 0.05) << depth;
    }
    // Its next read looks short by its frames, yet the line waits for the
    // streamer just answered before it, as it would before a block.
    snbusd::FairQueue queue(115200);
    queue.add(job(2, 0));
    queue.next();
    queue.offTheLine(675ms);
    queue.add(block(1, 0));
    queue.next();
    queue.offTheLine(blockTime);
    queue.add(job(2, 1));
    EXPECT_TRUE(queue.wouldGoFirst(1, 4ms));
}

TEST(Bus, WaitsAMomentForAClientJustAnsweredOnlyWhileItIsBehindItsShare) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    const auto readTime = snbusd::lineTime(job(2, 0).request, 115200);
    snbusd::Bus bus(115200, 1s, 4ms);  // long, so that no scheduling delay runs it out
    bus.submit(block(1, 0));
    ASSERT_EQ(bus.nextJob(1s)->client, 1u);
    bus.submit(job(2, 100));  // a terminal's idle read
    bus.submit(block(1, 1));
    ASSERT_EQ(bus.nextJob(1s)->client, 2u);
    bus.deliver(snbusd::Answer{2, {}}, readTime);
    std::thread terminal([&] {
        std::this_thread::sleep_for(20ms);
        bus.submit(job(2, 101));  // and the key typed meanwhile
    });
    EXPECT_EQ(bus.nextJob(1s)->request.transaction, 101) << "the keystroke before the block";
    terminal.join();
    const auto answered = Clock::now();
    bus.deliver(snbusd::Answer{2, {}}, readTime);
    EXPECT_EQ(bus.nextJob(1s)->client, 1u) << "nothing more came";
    EXPECT_GE(Clock::now() - answered, 1s);

    snbusd::Bus ahead(115200, 1s, 4ms);
    ahead.submit(job(2, 100));
    ahead.submit(block(1, 0));
    ASSERT_EQ(ahead.nextJob(1s)->client, 2u);  // the shorter of two equal stamps
    const auto start = Clock::now();
    ahead.deliver(snbusd::Answer{2, {}}, readTime);
    EXPECT_EQ(ahead.nextJob(1s)->client, 1u);
    EXPECT_LT(Clock::now() - start, 500ms) << "a client ahead of its share is not waited for";
}

snbusd::Options parse(std::vector<std::string> args) {
    args.insert(args.begin(), "snbusd");
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return snbusd::parseOptions(static_cast<int>(args.size()), argv.data());
}

TEST(DaemonOptions, DefaultsToLoopbackAndRefusesWhatCannotWork) {
    const snbusd::Options defaults = parse({"-p", "COM2"});
    EXPECT_EQ(defaults.device, "/dev/ttyS1");
    EXPECT_EQ(defaults.baud, 115200);
    EXPECT_EQ(defaults.listen, std::vector<std::string>{"127.0.0.1:1502"});
    EXPECT_EQ(defaults.maxClients, 32);
    EXPECT_EQ(defaults.idleTimeout.count(), 300);
    EXPECT_EQ(defaults.timeout.count(), 600);
    const snbusd::Options set = parse({"-p", "/dev/x", "--listen", "[::1]:1502", "--listen",
                                       "127.0.0.1:0", "--units", "2-3", "--read-only", "-v"});
    EXPECT_EQ(set.listen, (std::vector<std::string>{"[::1]:1502", "127.0.0.1:0"}));
    EXPECT_TRUE(set.readOnly && set.verbose && set.units[2] && set.units[3] && !set.units[4]);
    EXPECT_TRUE(parse({"--version"}).version) << "no device needed for it";
    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"-p", ""},
                                                {"-p", "/dev/x", "--listen", "1502"},
                                                {"-p", "/dev/x", "--units", "0"},
                                                {"-p", "/dev/x", "--units", "5-3"},
                                                {"-p", "/dev/x", "-m", "12345"},
                                                {"-p", "/dev/x", "stray"},
                                                {"-p", "/dev/x", "-x"}}) {
        EXPECT_THROW(parse(bad), std::invalid_argument) << (bad.empty() ? "" : bad.back());
    }
}

}  // namespace
