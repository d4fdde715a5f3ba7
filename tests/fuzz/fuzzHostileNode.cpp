// The library against a hostile node: the fuzzer plays the node on a
// pseudo-terminal and answers every request with bytes of its choosing, a
// valid CRC behind them, so they get past libmodbus's checks: receive counts
// beyond the block, acceptance beyond the chunk, wrong lengths, wrong
// function codes, other slaves, exceptions, silence.  Invariants: no crash,
// no read or write past a buffer (ASan, UBSan), and every call returns a
// documented result (transfers 0 to what was asked; statuses 0 or -1).
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "rtuFrame.h"
#include "snLib.h"
#include "sncommon/pseudoTerminal.h"

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

// The node's side: takes a request off the line, answers from the script.
class FakeNode {
public:
    FakeNode() : responder_([this] { serve(); }) {}

    const std::string& device() const { return pty_.slavePath(); }
    void script(const uint8_t* data, std::size_t size) {
        std::lock_guard lock(mutex_);
        script_.assign(data, data + size);
        cursor_ = 0;
    }

private:
    std::vector<uint8_t> request() {
        std::vector<uint8_t> in;
        uint8_t chunk[512];
        pollfd readable{pty_.master(), POLLIN, 0};
        while (poll(&readable, 1, in.empty() ? 1000 : 3) > 0) {
            const ssize_t n = read(pty_.master(), chunk, sizeof chunk);
            if (n <= 0) break;
            in.insert(in.end(), chunk, chunk + n);
        }
        return in;
    }

    // An answer: a mode byte, then (for an answer) a length and its bytes.
    std::vector<uint8_t> answerTo(const std::vector<uint8_t>& req) {
        std::lock_guard lock(mutex_);
        if (req.size() < 2) return {};
        const auto take = [&] {
            return cursor_ < script_.size() ? script_[cursor_++] : uint8_t{0};
        };
        const uint8_t mode = take();
        if (mode % 5 == 0) return {};  // silence
        std::vector<uint8_t> answer{mode % 5 == 1 ? take() : req[0],
                                    mode % 5 == 2 ? take() : req[1]};
        const std::size_t length = take() % 250;
        for (std::size_t i = 0; i < length; ++i) answer.push_back(take());
        answer.resize(answer.size() + 2);
        snsim::detail::setCrc(answer);
        return answer;
    }

    void serve() {
        for (;;) {
            const std::vector<uint8_t> req = request();
            const std::vector<uint8_t> answer = answerTo(req);
            if (!answer.empty()) write(pty_.master(), answer.data(), answer.size());
        }
    }

    sncommon::PseudoTerminal pty_;
    std::mutex mutex_;
    std::vector<uint8_t> script_;
    std::size_t cursor_ = 0;
    std::thread responder_;
};

struct Rig {
    FakeNode node;
    SensorNode* handle = nullptr;
    SnSerial* port = nullptr;
};

Rig& rig() {
    static Rig* the = [] {
        auto* r = new Rig;  // lives to the end, with its thread
        initSensorNodeLib();
        r->handle = openSensorNode(r->node.device().c_str(), 115200, 1);
        require(r->handle != nullptr);
        const timeval response{0, 20000}, byte{0, 3000};
        snModbusSetResponseTimeout(r->handle, &response);
        snModbusSetByteTimeout(r->handle, &byte);
        uint8_t accept[] = {1, 1, 5, 0, 4, 0xFF, 0};  // answers the transmit-enable write
        r->node.script(accept, sizeof accept);
        r->port = snOpenSerial(r->handle, 0);
        return r;
    }();
    return *the;
}

void status(int result) { require(result == 0 || result == -1); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Rig& r = rig();
    r.node.script(data, size);
    uint8_t buffer[600];
    const uint32_t want = size > 0 ? 1 + data[0] % 500 : 20;
    if (r.port != nullptr) {
        const int got = snSerRead(r.port, buffer, want);
        require(got >= 0 && static_cast<uint32_t>(got) <= want);
        const int sent =
            snSerWrite(r.port, data, static_cast<uint32_t>(std::min<std::size_t>(size, 600)));
        require(sent >= 0 && static_cast<std::size_t>(sent) <= std::min<std::size_t>(size, 600));
        uint16_t flags = 0;
        status(snSerGetErrFlags(r.port, &flags));
    }
    uint16_t values[8] = {};
    status(snAnalogChans(r.handle, 0, 8, values));
    uint32_t board = 0;
    status(snGetBoardConfig(r.handle, &board));
    const int on = snPowerIsOn(r.handle, 3);
    require(on == 0 || on == 1 || on == -1);
    return 0;
}
