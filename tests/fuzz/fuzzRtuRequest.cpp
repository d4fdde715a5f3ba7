// The emulator reads whatever a master sends: requests of every function
// code, length and address, built from the fuzzer's bytes with a valid CRC
// (so they get past the framing into the register map and libmodbus's
// reply), and now and then raw noise, written to its line as a master would.
// Invariants: it never crashes (ASan, UBSan), and every answer it gives is a
// whole RTU frame with a valid CRC for the slave that was asked.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "rtuFrame.h"
#include "serialClient.h"
#include "sncommon/fdTransfer.h"
#include "snsim/emulator.h"

namespace {

struct Line {
    snsim::Emulator sim{[] {
        snsim::Options options;
        options.slaves = {1, 2};
        for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
        return options;
    }()};
    sntest::SerialClient master;
    bool ok = sim.start() && master.open(sim.devicePath());
};

Line& line() {
    static Line* the = new Line;  // lives to the end: the emulator's threads with it
    return *the;
}

void require(bool condition) {
    if (!condition) std::abort();
}

// Slave, function and payload from the fuzzer, sized as the function's
// layout says (byte counts taken from the payload itself), then the CRC.
std::vector<uint8_t> request(const uint8_t* data, std::size_t size) {
    std::vector<uint8_t> frame(data, data + std::min<std::size_t>(size, 252));
    frame[0] = static_cast<uint8_t>(frame[0] % 4);  // 0 (broadcast) to 3 (nobody)
    std::size_t wanted = 0;
    frame.resize(std::max<std::size_t>(frame.size(), 12), 0);
    if (snsim::detail::requestLength(frame.data(), frame.size(), wanted) ==
        snsim::detail::FrameLength::Known)
        frame.resize(std::min<std::size_t>(wanted, 256), 0);
    else
        frame.resize(std::max<std::size_t>(size, 4), 0);
    snsim::detail::setCrc(frame);
    return frame;
}

void checkAnswer(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& answer) {
    if (answer.empty()) return;
    const bool whole = answer.size() >= 4 && answer.size() <= 256 &&
                       snsim::detail::crcOk(answer.data(), answer.size()) && answer[0] == sent[0];
    if (whole) return;
    std::fprintf(stderr, "bad answer to");
    for (const uint8_t b : sent) std::fprintf(stderr, " %02x", b);
    std::fprintf(stderr, ":");
    for (const uint8_t b : answer) std::fprintf(stderr, " %02x", b);
    std::fprintf(stderr, "\n");
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Line& l = line();
    require(l.ok);
    for (std::size_t at = 0; at + 3 <= size;) {
        const std::size_t length = std::min<std::size_t>(2 + data[at] % 32, size - at - 1);
        const bool noise = (data[at] & 0xE0) == 0xE0;  // one piece in eight
        const uint8_t* piece = data + at + 1;
        at += 1 + length;
        std::vector<uint8_t> sent =
            noise ? std::vector<uint8_t>(piece, piece + length) : request(piece, length);
        // Anything still coming from before (a frame of no fixed layout ends
        // only with a silence, which a loaded machine may stretch) is not
        // this request's answer.
        while (!l.master.readExactly(256, std::chrono::milliseconds(6)).empty()) {
        }
        if (!l.master.writeAll(sent, std::chrono::milliseconds(1000))) return 0;
        // Slaves 1 and 2 answer everything, however slowly a loaded machine
        // lets them; then the rest of the answer, up to a silence.  Noise,
        // broadcasts and slave 3 get no answer: a short wait is enough.
        const bool answered = !noise && sent[0] != 0 && sent[0] != 3;
        std::vector<uint8_t> answer =
            l.master.readExactly(1, std::chrono::milliseconds(answered ? 500 : 8));
        const std::vector<uint8_t> rest = l.master.readExactly(255, std::chrono::milliseconds(3));
        answer.insert(answer.end(), rest.begin(), rest.end());
        if (answered) checkAnswer(sent, answer);
        if (noise) usleep(110000);  // past the emulator's wait for the rest of a torn frame
    }
    return 0;
}
