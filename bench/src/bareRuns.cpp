#include "bareRuns.h"

#include "lineLimit.h"
#include "span.h"

namespace snbench {

namespace {

// Times and counts of a run that started at `span`.
void finish(TransferResult& r, const Span& span, NodeRig& rig) {
    r.seconds = span.wallSeconds();
    r.cpuSeconds = span.cpuSeconds();
    r.transactions = rig.sim().log().size();
    r.medianCycle = medianRequestGap(rig.sim());
}

}  // namespace

TransferResult timedBareWrite(NodeRig& rig, BareLink& bare, std::size_t bytes) {
    const auto blocks = packBlocks(testPattern(bytes, 5));
    rig.sim().clearLog();
    TransferResult r;
    r.intact = true;
    const Span span;
    for (const auto& regs : blocks) {
        const int took = bare.writeBlock(regs);
        r.intact = r.intact && took == regs[0];
        r.bytes += took > 0 ? static_cast<std::size_t>(took) : 0;
    }
    finish(r, span, rig);
    return r;
}

TransferResult timedBareRead(NodeRig& rig, BareLink& bare, std::size_t bytes) {
    snSerIFlush(rig.port());
    rig.sim().feedPort(kPort, testPattern(bytes, 3), kSlave);
    rig.sim().clearLog();
    TransferResult r;
    r.intact = true;
    const Span span;
    for (std::size_t i = 0; i < bytes / kBlockBytes; ++i) {
        const int got = bare.readBlock();
        r.intact = r.intact && got == kBlockBytes;
        r.bytes += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    finish(r, span, rig);
    return r;
}

}  // namespace snbench
