#include "overheadRuns.h"

#include "bareRuns.h"
#include "lineLimit.h"
#include "transferRuns.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace snbench {

namespace {

struct Samples {
    std::vector<double> wall, cpu;
};

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void add(Samples& s, double wall, double cpu, std::size_t transactions) {
    const double n = static_cast<double>(transactions);
    s.wall.push_back(wall * 1e6 / n);
    s.cpu.push_back(cpu * 1e6 / n);
}

Comparison summarise(const Samples& lib, const Samples& bare, std::size_t tx, int rounds, bool ok) {
    Comparison c;
    c.transactions = tx;
    c.rounds = rounds;
    c.libUs = median(lib.wall);
    c.bareUs = median(bare.wall);
    c.libCpuUs = median(lib.cpu);
    c.bareCpuUs = median(bare.cpu);
    c.intact = ok;
    return c;
}

}  // namespace

Comparison compareWrites(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds) {
    rig.setLineSpeed(0);
    const std::size_t bytes = blocks * kBlockBytes;
    Samples lib, base;
    bool ok = true;
    for (int i = 0; i < rounds; ++i) {
        const TransferResult r = timedWrite(rig, bytes, false);
        ok = ok && r.intact && r.transactions == blocks;
        add(lib, r.seconds, r.cpuSeconds, blocks);
        const TransferResult b = timedBareWrite(rig, bare, bytes);
        ok = ok && b.intact && b.transactions == blocks;
        add(base, b.seconds, b.cpuSeconds, blocks);
    }
    rig.clearTransmitSide();
    if (!ok) std::fprintf(stderr, "snbench: a write comparison round moved less than it should\n");
    return summarise(lib, base, blocks, rounds, ok);
}

Comparison compareReads(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds) {
    rig.setLineSpeed(0);
    const std::size_t bytes = blocks * kBlockBytes;
    Samples lib, base;
    bool ok = true;
    for (int i = 0; i < rounds; ++i) {
        const TransferResult r = timedRead(rig, bytes);
        ok = ok && r.intact && r.transactions == blocks;
        add(lib, r.seconds, r.cpuSeconds, blocks);
        const TransferResult b = timedBareRead(rig, bare, bytes);
        ok = ok && b.intact && b.transactions == blocks;
        add(base, b.seconds, b.cpuSeconds, blocks);
    }
    if (!ok) std::fprintf(stderr, "snbench: a read comparison round moved less than it should\n");
    return summarise(lib, base, blocks, rounds, ok);
}

}  // namespace snbench
