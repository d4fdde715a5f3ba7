#include "transferRuns.h"

#include "lineLimit.h"
#include "span.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Collects the node's line output until `bytes` have come or the line has
// been quiet for a second.
std::vector<uint8_t> collectOutput(NodeRig& rig, std::size_t bytes) {
    std::vector<uint8_t> out;
    auto lastGrowth = Clock::now();
    while (out.size() < bytes && secondsSince(lastGrowth) < 1.0) {
        const auto more = rig.sim().takePortOutput(kPort, kSlave);
        if (!more.empty()) lastGrowth = Clock::now();
        out.insert(out.end(), more.begin(), more.end());
        if (out.size() < bytes) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return out;
}

}  // namespace

double medianRequestGap(const snsim::Emulator& sim) {
    const auto log = sim.log();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < log.size(); ++i)
        gaps.push_back(std::chrono::duration<double>(log[i].when - log[i - 1].when).count());
    if (gaps.empty()) return 0;
    std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2),
                     gaps.end());
    return gaps[gaps.size() / 2];
}

std::vector<uint8_t> testPattern(std::size_t bytes, unsigned seed) {
    std::vector<uint8_t> data(bytes);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : data) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return data;
}

TransferResult timedWrite(NodeRig& rig, std::size_t bytes, bool verify) {
    const auto data = testPattern(bytes, static_cast<unsigned>(bytes));
    if (verify) rig.clearTransmitSide();
    rig.sim().clearLog();
    TransferResult r;
    const Span span;
    const int sent = snSerWrite(rig.port(), data.data(), static_cast<uint32_t>(bytes));
    r.seconds = span.wallSeconds();
    r.cpuSeconds = span.cpuSeconds();
    r.transactions = rig.sim().log().size();
    r.medianCycle = medianRequestGap(rig.sim());
    r.bytes = sent > 0 ? static_cast<std::size_t>(sent) : 0;
    r.intact = r.bytes == bytes;
    if (verify && r.intact) r.intact = collectOutput(rig, bytes) == data;
    if (!r.intact)
        std::fprintf(stderr,
                     "snbench: write of %zu bytes: node got a different stream (%d accepted)\n",
                     bytes, sent);
    return r;
}

TransferResult timedRead(NodeRig& rig, std::size_t bytes) {
    const auto data = testPattern(bytes, static_cast<unsigned>(bytes) + 7);
    snSerIFlush(rig.port());
    rig.sim().feedPort(kPort, data, kSlave);
    rig.sim().clearLog();
    std::vector<uint8_t> got(bytes);
    std::size_t have = 0;
    int emptyReads = 0;
    TransferResult r;
    const Span span;
    while (have < bytes && emptyReads < 3) {
        const auto want = static_cast<uint32_t>(std::min<std::size_t>(kBlockBytes, bytes - have));
        const int n = snSerRead(rig.port(), got.data() + have, want);
        have += n > 0 ? static_cast<std::size_t>(n) : 0;
        emptyReads = n > 0 ? 0 : emptyReads + 1;
    }
    r.seconds = span.wallSeconds();
    r.cpuSeconds = span.cpuSeconds();
    r.transactions = rig.sim().log().size();
    r.medianCycle = medianRequestGap(rig.sim());
    r.bytes = have;
    r.intact = have == bytes && got == data;
    if (!r.intact)
        std::fprintf(stderr, "snbench: read of %zu bytes: got %zu, %s\n", bytes, have,
                     have == bytes ? "content differs" : "short");
    return r;
}

}  // namespace snbench
