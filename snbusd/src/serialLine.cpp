#include "serialLine.h"

#include <unistd.h>

#include <cerrno>
#include <thread>

#include "snline/deviceLock.h"
#include "snline/lineExchange.h"

namespace snbusd {

namespace {

constexpr uint32_t kByteTimeoutUs = 50000;  // as the library's own links
// After a broadcast the nodes need a moment before the next request.
constexpr std::chrono::milliseconds kTurnaround(20);

}  // namespace

bool isDeviceGone(int errorNumber) {
    switch (errorNumber) {
        case EIO:
        case ENXIO:
        case EBADF:
        case ENODEV:
        case ENOENT:
        case EPIPE:
        case EACCES:
            return true;
        default:
            return false;
    }
}

SerialLine::SerialLine(std::string device, int baud, std::chrono::milliseconds responseTimeout)
    : device_(std::move(device)), baud_(baud), responseTimeout_(responseTimeout) {}

SerialLine::~SerialLine() { close(); }

void SerialLine::close() {
    if (ctx_ != nullptr) {
        modbus_close(ctx_);
        modbus_free(ctx_);
        ctx_ = nullptr;
    }
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
}

bool SerialLine::open() {
    if (ctx_ != nullptr) return true;
    // The lock first: a line another program holds is never touched.
    if (lockFd_ < 0 && (lockFd_ = snline::lockDevice(device_.c_str())) < 0) return false;
    ctx_ = modbus_new_rtu(device_.c_str(), baud_, 'N', 8, 1);
    if (ctx_ == nullptr || modbus_connect(ctx_) < 0) {
        const int failure = errno;
        close();
        errno = failure;
        return false;
    }
    modbus_rtu_set_serial_mode(ctx_, MODBUS_RTU_RS232);  // a pty refuses it; no matter
    setResponseTimeout(responseTimeout_);
    modbus_set_byte_timeout(ctx_, 0, kByteTimeoutUs);
    return true;
}

void SerialLine::setResponseTimeout(std::chrono::milliseconds timeout) {
    const auto ms = timeout.count();
    modbus_set_response_timeout(ctx_, static_cast<uint32_t>(ms / 1000),
                                static_cast<uint32_t>(ms % 1000 * 1000));
}

Outcome SerialLine::lost(int errorNumber) {
    close();
    Outcome outcome;
    outcome.kind = Outcome::Kind::Gone;
    outcome.errorNumber = errorNumber;
    return outcome;
}

// The request on the line; false (with `outcome` filled) when it did not go.
bool SerialLine::send(uint8_t unit, const std::vector<uint8_t>& pdu, Outcome& outcome) {
    if (!open()) {
        outcome = lost(errno);
        return false;
    }
    modbus_set_slave(ctx_, unit);
    // Nothing that came in before the broadcast is of use to anyone.
    modbus_flush(ctx_);
    std::vector<uint8_t> raw{unit};
    raw.insert(raw.end(), pdu.begin(), pdu.end());
    if (modbus_send_raw_request(ctx_, raw.data(), static_cast<int>(raw.size())) >= 0) return true;
    outcome = lost(errno);
    return false;
}

Outcome SerialLine::transact(uint8_t unit, const std::vector<uint8_t>& pdu, snline::LineBook& book,
                             std::chrono::milliseconds timeout) {
    Outcome outcome;
    if (!open()) return lost(errno);
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    const bool shorter = timeout.count() > 0 && timeout < responseTimeout_;
    if (shorter) setResponseTimeout(timeout);
    const snline::Exchanged done =
        snline::exchange(ctx_, book, unit, pdu.data(), pdu.size(), answer);
    if (shorter) setResponseTimeout(responseTimeout_);
    switch (done.kind) {
        case snline::Exchanged::Kind::Answer:
            outcome.kind = Outcome::Kind::Answer;
            outcome.pdu.assign(answer, answer + done.length);
            return outcome;
        case snline::Exchanged::Kind::NoAnswer:
            outcome.kind = Outcome::Kind::NoAnswer;
            break;
        case snline::Exchanged::Kind::Garbled:
            outcome.kind = Outcome::Kind::Garbled;
            break;
        case snline::Exchanged::Kind::Failed:
            // The request may have gone out all the same: its debt is kept.
            if (isDeviceGone(done.errorNumber)) {
                outcome = lost(done.errorNumber);
            } else {
                outcome.kind = Outcome::Kind::Garbled;
            }
            break;
    }
    outcome.errorNumber = done.errorNumber;
    if (done.owed) outcome.debt = done.debt;
    return outcome;
}

Outcome SerialLine::broadcast(const std::vector<uint8_t>& pdu) {
    Outcome outcome;
    if (!send(0, pdu, outcome)) return outcome;
    std::this_thread::sleep_for(kTurnaround);
    outcome.kind = Outcome::Kind::Answer;
    return outcome;
}

}  // namespace snbusd
