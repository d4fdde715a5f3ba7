#include "serialLine.h"

#include <cerrno>
#include <thread>

#include "requestCheck.h"
#include "sncommon/lineRecovery.h"

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
    if (ctx_ == nullptr) return;
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
}

bool SerialLine::open() {
    if (ctx_ != nullptr) return true;
    ctx_ = modbus_new_rtu(device_.c_str(), baud_, 'N', 8, 1);
    if (ctx_ == nullptr) return false;
    if (modbus_connect(ctx_) < 0) {
        const int failure = errno;
        modbus_free(ctx_);
        ctx_ = nullptr;
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
    // Nothing that came in before the request can be its answer: a node
    // that answered after the line gave up on it would otherwise be heard
    // answering this one.
    modbus_flush(ctx_);
    std::vector<uint8_t> raw{unit};
    raw.insert(raw.end(), pdu.begin(), pdu.end());
    if (modbus_send_raw_request(ctx_, raw.data(), static_cast<int>(raw.size())) >= 0) return true;
    outcome = lost(errno);
    return false;
}

Outcome SerialLine::transact(uint8_t unit, const std::vector<uint8_t>& pdu,
                             std::chrono::milliseconds timeout) {
    Outcome outcome;
    if (!send(unit, pdu, outcome)) return outcome;
    uint8_t answer[MODBUS_RTU_MAX_ADU_LENGTH];
    const bool shorter = timeout.count() > 0 && timeout < responseTimeout_;
    if (shorter) setResponseTimeout(timeout);
    const int length = modbus_receive_confirmation(ctx_, answer);
    if (shorter) setResponseTimeout(responseTimeout_);
    if (length < 0 && isDeviceGone(errno)) return lost(errno);
    // Slave address in front, CRC behind (libmodbus has checked the CRC; an
    // answer from another slave comes back as length 0).
    if (length >= 4 && answer[0] == unit &&
        answers(pdu, answer + 1, static_cast<std::size_t>(length - 3))) {
        outcome.kind = Outcome::Kind::Answer;
        outcome.pdu.assign(answer + 1, answer + length - 2);
        return outcome;
    }
    outcome.errorNumber = length < 0 ? errno : EMBBADDATA;
    outcome.kind =
        outcome.errorNumber == ETIMEDOUT ? Outcome::Kind::NoAnswer : Outcome::Kind::Garbled;
    // The rest of a late or torn answer must not be taken for the next one.
    errno = outcome.errorNumber == ETIMEDOUT ? ETIMEDOUT : EMBBADDATA;
    sncommon::recoverFromLineFailure(ctx_, -1);
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
