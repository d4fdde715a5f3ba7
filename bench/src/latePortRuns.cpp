#include "latePortRuns.h"

#include "lineLimit.h"
#include "nodeRig.h"
#include "numberedStream.h"
#include "transferRuns.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kBaud = 115200;
constexpr auto kLateBy = 900ms;
constexpr auto kNoProgress = 5s;  // a reader this long without a byte gives up
constexpr std::size_t kLine = 7;  // bytes of one numbered line

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Only the port's data transactions are late; the probes that settle them
// are answered on time.
snsim::RandomFaults latePortAnswers(double share) {
    snsim::RandomFaults faults;
    faults.late = share;
    faults.lateBy = kLateBy;
    faults.seed = 3;
    faults.portsOnly = true;
    return faults;
}

// All of `data`, as a relay sends it: what the node took after a call gave
// up (told by the settle) is not sent again.
void writeAll(SnSerial* port, const std::vector<uint8_t>& data) {
    std::size_t sent = 0;
    int fruitless = 0;
    while (sent < data.size() && fruitless < 20) {
        const int n =
            snSerWrite(port, data.data() + sent, static_cast<uint32_t>(data.size() - sent));
        sent += static_cast<std::size_t>(std::max(n, 0));
        if (sent >= data.size()) break;
        const int late = snSerWriteSettle(port);
        sent += static_cast<std::size_t>(std::max(late, 0));
        fruitless = n > 0 || late > 0 ? 0 : fruitless + 1;
    }
}

std::vector<uint8_t> readAll(SnSerial* port, std::size_t size) {
    std::vector<uint8_t> got;
    uint8_t block[kBlockBytes];
    auto progress = Clock::now();
    while (got.size() < size && Clock::now() - progress < kNoProgress) {
        const int n = snSerRead(port, block, sizeof block);
        if (n <= 0) continue;
        got.insert(got.end(), block, block + n);
        progress = Clock::now();
    }
    return got;
}

struct Pass {
    double seconds = 0;
    sntest::StreamCheck toNode, fromNode;
};

// One transfer both ways at once: the node has `lines` numbered lines to
// deliver while the same lines are written to it.
Pass bothWays(NodeRig& rig, std::size_t lines) {
    const std::vector<uint8_t> data = sntest::numberedLines(lines);
    rig.clearTransmitSide();
    rig.sim().feedPort(kPort, data, kSlave);
    std::vector<uint8_t> got;
    const auto start = Clock::now();
    std::thread reader([&] { got = readAll(rig.port(), data.size()); });
    writeAll(rig.port(), data);
    reader.join();
    Pass pass;
    pass.seconds = secondsSince(start);
    pass.toNode = sntest::checkNumbered(rig.sim().takeAcceptedBytes(kPort, kSlave), lines);
    pass.fromNode = sntest::checkNumbered(got, lines);
    return pass;
}

}  // namespace

LatePortStream measureLatePortStream(std::size_t bytesEachWay) {
    LatePortStream out;
    NodeRig rig;
    if (!rig.start()) return out;
    rig.setLineSpeed(kBaud);
    const std::size_t lines = bytesEachWay / kLine;
    const Pass clean = bothWays(rig, lines);
    rig.sim().setRandomFaults(latePortAnswers(0.03));
    const Pass late = bothWays(rig, lines);
    out.lateAnswers = rig.sim().injectedFaults().late;
    rig.sim().setRandomFaults({});
    out.bytes = 2 * lines * kLine;
    out.lost = late.toNode.lostBytes + late.fromNode.lostBytes;
    out.repeated = late.toNode.addedBytes + late.fromNode.addedBytes;
    out.seconds = late.seconds;
    out.faultFreeSeconds = clean.seconds;
    out.silentSeconds =
        static_cast<double>(out.lateAnswers) * std::chrono::duration<double>(kLateBy).count();
    out.ok = clean.toNode.whole() && clean.fromNode.whole();
    if (!out.ok)
        std::fprintf(stderr, "snbench: the fault-free pass was not whole: %s; %s\n",
                     clean.toNode.describe().c_str(), clean.fromNode.describe().c_str());
    return out;
}

SettledCall measureSettledCall(int rounds) {
    SettledCall out;
    NodeRig rig;
    if (!rig.start()) return out;
    rig.setLineSpeed(kBaud);
    const std::vector<uint8_t> chunk = testPattern(kBlockBytes, 5);
    uint8_t block[kBlockBytes];
    std::vector<double> reads, writes;
    for (int i = 0; i < rounds; ++i) {
        rig.sim().feedPort(kPort, chunk, kSlave);
        rig.sim().setRandomFaults(latePortAnswers(1.0));
        auto start = Clock::now();
        const int read = snSerRead(rig.port(), block, kBlockBytes);
        reads.push_back(secondsSince(start) * 1000);
        start = Clock::now();
        const int written = snSerWrite(rig.port(), chunk.data(), kBlockBytes);
        writes.push_back(secondsSince(start) * 1000);
        rig.sim().setRandomFaults({});
        if (read != kBlockBytes || written != kBlockBytes) {
            std::fprintf(stderr, "snbench: a late answer was not the call's: read %d, wrote %d\n",
                         read, written);
            return out;
        }
    }
    const double lateMs = std::chrono::duration<double, std::milli>(kLateBy).count();
    const double charMs = charSeconds(kBaud) * 1000;
    out.readNodeMs = readTransactionChars(kBlockBytes) * charMs + lateMs;
    out.writeNodeMs = writeTransactionChars(kBlockBytes) * charMs + lateMs;
    out.readMs = median(reads);
    out.writeMs = median(writes);
    out.rounds = rounds;
    out.ok = true;
    return out;
}

}  // namespace snbench
