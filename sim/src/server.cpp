// The serving loop: reads the Modbus line from the pty master, frames
// requests (by function layout, CRC checked, silence for the rest), has
// libmodbus build the answer over the addressed slave's mapping, and puts
// the answer on the line with the configured faults and timing.
#include "emulatorImpl.h"
#include "faults.h"
#include "rtuFrame.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <thread>

namespace snsim {

using namespace std::chrono_literals;
using detail::FrameLength;

namespace {

// Silence that ends a request of a function with no fixed layout.
constexpr auto kUnknownGap = 5ms;
// Pause inside a torn answer: longer than a master's byte timeout.
constexpr auto kTornAnswerGap = 75ms;
// Silence after which an incomplete request is dropped.
constexpr auto kIncompleteGap = 100ms;

Clock::duration charTimes(std::size_t chars, int baud) {
    return std::chrono::nanoseconds(static_cast<long long>(chars) * 10'000'000'000LL / baud);
}

int msUntil(Clock::time_point t) {
    const auto d = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
    return d < 0 ? 0 : static_cast<int>(d);
}

// Exact time left until t: answers under line timing must not come late
// by a rounded-up millisecond.
timespec timeUntil(Clock::time_point t) {
    const auto ns = std::max<long long>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(t - Clock::now()).count());
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

bool isWrite(int fc) { return fc == 5 || fc == 6 || fc == 15 || fc == 16 || fc == 23; }

}  // namespace

void Emulator::Impl::serverLoop() {
    std::vector<uint8_t> buf;
    Clock::time_point frameStart{}, lastByte{};
    uint8_t tmp[512];
    for (;;) {
        int timeout = -1;
        if (!buf.empty()) {
            std::size_t len = 0;
            const bool unknown =
                detail::requestLength(buf.data(), buf.size(), len) == FrameLength::Unknown;
            timeout = msUntil(lastByte + (unknown ? kUnknownGap : kIncompleteGap));
        }
        pollfd fds[2] = {{serverStop[0], POLLIN, 0}, {dev->master(), POLLIN, 0}};
        const int rc = poll(fds, 2, timeout);
        if (rc < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        if (rc > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = ::read(dev->master(), tmp, sizeof tmp);
            if (n > 0) {
                const auto now = Clock::now();
                if (buf.empty()) frameStart = now;
                buf.insert(buf.end(), tmp, tmp + n);
                lastByte = now;
            }
        } else if (rc > 0 && (fds[1].revents & (POLLERR | POLLHUP))) {
            // Cannot happen while the slave side is kept open; do not spin.
            poll(fds, 1, 10);
        }
        // Serve every complete request in the buffer.
        while (!buf.empty()) {
            std::size_t len = 0;
            const FrameLength fl = detail::requestLength(buf.data(), buf.size(), len);
            if (fl == FrameLength::NeedMore || (fl == FrameLength::Known && buf.size() < len)) {
                if (Clock::now() - lastByte >= kIncompleteGap) buf.clear();  // torn frame
                break;
            }
            if (fl == FrameLength::Unknown) {
                if (Clock::now() - lastByte < kUnknownGap) break;
                len = buf.size();
            }
            if (len > detail::kMaxFrame || !detail::crcOk(buf.data(), len)) {
                buf.clear();  // noise: drop everything up to the next silence
                break;
            }
            std::vector<uint8_t> frame(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len));
            buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(len));
            const auto arrival = frameStart;
            frameStart = Clock::now();
            serveFrame(frame.data(), frame.size(), arrival);
        }
    }
}

std::vector<uint8_t> Emulator::Impl::takeLibmodbusReply() {
    std::vector<uint8_t> out;
    uint8_t tmp[512];
    for (;;) {
        const ssize_t n = ::read(replyPair[1], tmp, sizeof tmp);
        if (n <= 0) break;
        out.insert(out.end(), tmp, tmp + n);
    }
    return out;
}

uint64_t Emulator::Impl::logRequest(const detail::Request& req, Clock::time_point arrival) {
    Transaction t;
    t.slave = req.slave;
    t.function = req.function;
    t.address = req.address;
    t.quantity = req.quantity;
    t.values = req.values;
    t.readAddress = req.readAddress;
    t.readQuantity = req.readQuantity;
    t.when = arrival;
    log.push_back(std::move(t));
    logCv.notify_all();
    return logBase + log.size() - 1;
}

void Emulator::Impl::applyBroadcast(const detail::Request& req, Fault flt, Clock::time_point now) {
    if (flt != Fault::None && flt != Fault::Delay) return;
    for (auto& n : nodes) {
        if (isWrite(req.function) && n->check(req) == 0) {
            n->applyWrites(req, now);
            n->afterReply();
        }
    }
}

std::vector<uint8_t> Emulator::Impl::answer(const detail::Request& req, const uint8_t* frame,
                                            std::size_t len, Fault flt, Clock::time_point now) {
    detail::NodeMap* n = node(req.slave);
    if (!n) return {};  // another slave's request: not ours to answer
    // libmodbus reads a whole ADU from the buffer it is given.
    uint8_t reqBuf[2 * detail::kMaxFrame] = {};
    std::memcpy(reqBuf, frame, len);
    n->advance(now);
    modbus_set_slave(ctx, req.slave);
    std::vector<uint8_t> reply;
    const int code = flt == Fault::Exception ? exceptionCode : n->check(req);
    if (flt == Fault::Exception || code > 0) {
        // libmodbus refuses codes outside 1..11; those are built by hand.
        if (code < 1 || modbus_reply_exception(ctx, reqBuf, static_cast<unsigned>(code)) < 0)
            reply = detail::exceptionFrame(req.slave, req.function, code);
    } else {
        if (code == 0) {
            // Function 23 writes before it reads in modbus_reply, so the
            // transmit block is applied (and its status set) first.
            n->applyWrites(req, now);
            n->prepareRead(req, now);
            if (flt == Fault::AbsurdCounts) n->exaggerateCounts(req);
        }
        modbus_reply(ctx, reqBuf, static_cast<int>(len), n->mapping());
        if (code == 0) n->afterReply();
    }
    std::vector<uint8_t> built = takeLibmodbusReply();
    return reply.empty() ? built : reply;
}

void Emulator::Impl::serveFrame(const uint8_t* frame, std::size_t len, Clock::time_point arrival) {
    const detail::Request req = detail::parseRequest(frame, len);
    std::vector<uint8_t> reply;
    uint64_t seq = 0;
    Fault flt;
    std::chrono::milliseconds delay;
    bool timing;
    int baud;
    Clock::time_point processed;
    {
        std::lock_guard g(mu);
        seq = logRequest(req, arrival);
        flt = fault;
        delay = faultDelay;
        if (flt == Fault::None && req.slave != 0 && node(req.slave))
            flt = dice.draw(delay, detail::isPortTransfer(req));
        timing = lineTiming;
        baud = modbusBaud;
        if (flt == Fault::NoAnswer) return;
        processed = Clock::now();
        if (req.slave == 0) {
            applyBroadcast(req, flt, processed);  // broadcasts get no answer
        } else {
            reply = answer(req, frame, len, flt, processed);
        }
    }
    kickPump();
    if (reply.empty()) return;
    // With line timing the answer is due when request, answer and the two
    // silences would have passed on a real line.
    Clock::time_point sendAt = processed;
    if (timing) sendAt = std::max(sendAt, arrival + charTimes(len + reply.size() + 7, baud));
    if (flt == Fault::Delay) sendAt += delay;
    // A late answer is a busy node's: it is sent whatever the master does
    // meanwhile, and what the master sent waits for the node in order.
    sendReply(detail::faultyReply(flt, std::move(reply)), seq, sendAt, flt == Fault::TornAnswer,
              flt == Fault::Delay);
}

void Emulator::Impl::sendReply(const std::vector<uint8_t>& reply, uint64_t seq,
                               Clock::time_point sendAt, bool torn, bool busy) {
    if (!waitToSend(sendAt, busy)) return;
    {
        std::lock_guard g(mu);
        if (seq >= logBase && seq - logBase < log.size()) log[seq - logBase].answered = true;
    }
    if (!torn || reply.size() < 2) {
        sendToMaster(reply);
        return;
    }
    // A node that stalls mid-answer still finishes it, whether or not the
    // master is still listening.
    const auto half = static_cast<std::ptrdiff_t>(reply.size() / 2);
    sendToMaster({reply.begin(), reply.begin() + half});
    std::this_thread::sleep_for(kTornAnswerGap);
    sendToMaster({reply.begin() + half, reply.end()});
}

bool Emulator::Impl::waitToSend(Clock::time_point until, bool busy) {
    for (;;) {
        const auto now = Clock::now();
        if (now >= until) return true;
        pollfd fds[2] = {{serverStop[0], POLLIN, 0}, {dev->master(), POLLIN, 0}};
        const timespec left = timeUntil(until);
        const int rc = ppoll(fds, busy ? 1 : 2, &left, nullptr);
        if (rc < 0 && errno != EINTR) return false;
        if (fds[0].revents) return false;
        if (fds[1].revents & POLLIN) return false;  // master gave up and sends anew
    }
}

void Emulator::Impl::sendToMaster(const std::vector<uint8_t>& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        const ssize_t n = ::write(dev->master(), bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;
        pollfd fds[2] = {{serverStop[0], POLLIN, 0}, {dev->master(), POLLOUT, 0}};
        if (poll(fds, 2, 100) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
    }
}

}  // namespace snsim
