#include "terminalReceive.h"

#include <chrono>
#include <string>
#include <vector>

namespace snbench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 0;
constexpr std::size_t kTopUp = 2000;  // bytes handed to the node at a time
constexpr std::chrono::milliseconds kWarmUp{500};

// Printable bytes only, and no line feed: the pty's output processing
// would turn it into two bytes.
class Stream {
public:
    std::vector<uint8_t> next(std::size_t n) {
        std::vector<uint8_t> out(n);
        for (auto& b : out) {
            b = static_cast<uint8_t>('!' + produced_.size() % 94);
            produced_.push_back(static_cast<char>(b));
        }
        return out;
    }
    bool isPrefix(const std::string& got) const {
        return produced_.compare(0, got.size(), got) == 0;
    }

private:
    std::string produced_;
};

}  // namespace

void measureReceive(snsim::Emulator& sim, TerminalProcess& term, double seconds,
                    TerminalFigures& f) {
    Stream stream;
    std::string printed;
    std::size_t atWindowStart = 0;
    const auto start = Clock::now();
    const auto windowStart = start + kWarmUp;
    const auto end = windowStart + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    bool inWindow = false;
    while (Clock::now() < end) {
        if (sim.rxPending(kPort) < kTopUp) sim.feedPort(kPort, stream.next(kTopUp));
        printed += term.output(std::chrono::milliseconds(20));
        if (!inWindow && Clock::now() >= windowStart) {
            inWindow = true;
            atWindowStart = printed.size();
        }
    }
    const double window = std::chrono::duration<double>(Clock::now() - windowStart).count();
    f.receiveSeconds = window;
    f.receiveBytesPerSecond = static_cast<double>(printed.size() - atWindowStart) / window;
    f.receiveIntact = !printed.empty() && stream.isPrefix(printed);
}

}  // namespace snbench
