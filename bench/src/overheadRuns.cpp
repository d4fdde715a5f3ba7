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

// Alternating rounds of the library's run and the bare run of the same
// transactions; `what` names them when a round moved less than it should.
template <typename LibraryRun, typename BareRun>
Comparison compare(std::size_t blocks, int rounds, const char* what, LibraryRun library,
                   BareRun bareRun) {
    Samples lib, base;
    bool ok = true;
    for (int i = 0; i < rounds; ++i) {
        const TransferResult r = library();
        ok = ok && r.intact && r.transactions == blocks;
        add(lib, r.seconds, r.cpuSeconds, blocks);
        const TransferResult b = bareRun();
        ok = ok && b.intact && b.transactions == blocks;
        add(base, b.seconds, b.cpuSeconds, blocks);
    }
    if (!ok)
        std::fprintf(stderr, "snbench: a %s comparison round moved less than it should\n", what);
    return summarise(lib, base, blocks, rounds, ok);
}

}  // namespace

Comparison compareWrites(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds) {
    rig.setLineSpeed(0);
    const std::size_t bytes = blocks * kBlockBytes;
    const Comparison c = compare(
        blocks, rounds, "write", [&] { return timedWrite(rig, bytes, false); },
        [&] { return timedBareWrite(rig, bare, bytes); });
    rig.clearTransmitSide();
    return c;
}

Comparison compareReads(NodeRig& rig, BareLink& bare, std::size_t blocks, int rounds) {
    rig.setLineSpeed(0);
    const std::size_t bytes = blocks * kBlockBytes;
    return compare(
        blocks, rounds, "read", [&] { return timedRead(rig, bytes); },
        [&] { return timedBareRead(rig, bare, bytes); });
}

}  // namespace snbench
