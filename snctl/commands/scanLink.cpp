#include "scanLink.h"

#include "deviceHints.h"
#include "failure.h"

#include "sncommon/deviceHolder.h"
#include "snline/deviceLock.h"
#include "snline/hostPort.h"
#include "snline/lineRecovery.h"
#include "snline/modbusErrors.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace snctl {

namespace {

using std::chrono::milliseconds;

// The node's identity registers: serial number, then software revision.
constexpr int kIdentityRegister = 15;
constexpr int kIdentityCount = 2;

// Longer than the daemon's longest line timeout: its answer comes first.
constexpr milliseconds kDaemonWait{61000};
// snbusd answers a setting of its own at once.
constexpr milliseconds kSettingWait{2000};
// The gap allowed inside an answer: USB adapters hand bytes over in bursts
// up to 16 ms apart; at slow speeds three characters' time.
constexpr milliseconds kShortestByteTimeout{20};

void setTimeout(modbus_t* ctx, milliseconds timeout, int (*set)(modbus_t*, uint32_t, uint32_t)) {
    set(ctx, static_cast<uint32_t>(timeout.count() / 1000),
        static_cast<uint32_t>(timeout.count() % 1000 * 1000));
}

modbus_t* newContext(const std::string& device, int baud) {
    if (!snline::isTcpLinkName(device.c_str()))
        return modbus_new_rtu(device.c_str(), baud, 'N', 8, 1);
    checkTcpName(device, "scan: ");
    snline::HostPort address;
    snline::parseTcpLinkName(device.c_str(), address);
    return modbus_new_tcp_pi(address.host, address.port);
}

}  // namespace

ScanLink::ScanLink(const std::string& device, int baud, milliseconds timeout)
    : ctx_(newContext(device, baud)), daemon_(snline::isTcpLinkName(device.c_str())) {
    const std::string what = "scan: cannot open " + device;
    if (ctx_ == nullptr) throw DeviceError(what, errno);
    if (daemon_) {
        setTimeout(ctx_, std::max(timeout, kDaemonWait), modbus_set_response_timeout);
    } else {
        setTimeout(ctx_, timeout, modbus_set_response_timeout);
        // Short, since a failed ask waits it out twice for a late answer.
        setTimeout(ctx_, std::max(kShortestByteTimeout, milliseconds(3 * 11 * 1000 / baud + 1)),
                   modbus_set_byte_timeout);
    }
    // One master per bus, as every program of ours: the lock before the
    // line is touched, and who holds it when another does.
    if (!daemon_ && (lockFd_ = snline::lockDevice(device.c_str())) < 0 && errno == EBUSY) {
        modbus_free(ctx_);
        throw DeviceError(sncommon::deviceHolderSentence(device), 0);
    }
    if (modbus_connect(ctx_) < 0) {
        const int error = errno;
        modbus_free(ctx_);
        if (lockFd_ >= 0) ::close(lockFd_);
        throw openFailure(what, device, baud, error);
    }
    if (daemon_) askDaemonToWait(timeout);
}

// snbusd answers 0x41 itself and then waits on its line no longer than
// asked for this connection's requests; one that refuses the function (an
// older daemon) keeps its own --timeout, and the scan is only slower.  Its
// answers still come, so the scan goes on waiting for them.
void ScanLink::askDaemonToWait(milliseconds timeout) {
    constexpr uint8_t kSetClientTimeout = 0x41;
    const auto ms = static_cast<uint16_t>(timeout.count());
    const uint8_t request[] = {0, kSetClientTimeout, static_cast<uint8_t>(ms >> 8),
                               static_cast<uint8_t>(ms & 0xFF)};
    // Another gateway might pass it to the line and never answer: not long.
    setTimeout(ctx_, kSettingWait, modbus_set_response_timeout);
    uint8_t answer[MODBUS_TCP_MAX_ADU_LENGTH];
    if (modbus_send_raw_request(ctx_, request, sizeof request) >= 0 &&
        modbus_receive_confirmation(ctx_, answer) < 0)
        modbus_flush(ctx_);
    setTimeout(ctx_, std::max(timeout, kDaemonWait), modbus_set_response_timeout);
}

ScanLink::~ScanLink() {
    modbus_close(ctx_);
    modbus_free(ctx_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

ScanAnswer ScanLink::ask(int slave) {
    ScanAnswer answer;
    uint16_t identity[kIdentityCount] = {};
    modbus_set_slave(ctx_, slave);
    errno = 0;
    const int rc = snline::recoverFromLineFailure(
        ctx_, modbus_read_registers(ctx_, kIdentityRegister, kIdentityCount, identity));
    if (rc == kIdentityCount) {
        answer.kind = ScanAnswer::Kind::Identity;
        answer.serialNumber = identity[0];
        answer.softwareRevision = identity[1];
        return answer;
    }
    answer.errorNumber = rc < 0 ? errno : EMBBADDATA;
    answer.kind = kindOf(answer.errorNumber, slave);
    return answer;
}

ScanAnswer::Kind ScanLink::kindOf(int errorNumber, int slave) const {
    // The daemon always answers, for an empty address with exception 0x0B.
    // No errno: the words for it would speak of a node, not of the daemon.
    if (errorNumber == ETIMEDOUT && daemon_)
        throw DeviceError("scan: the bus daemon did not answer within " +
                              std::to_string(kDaemonWait.count() / 1000) + " s",
                          0);
    switch (snline::classifyModbusError(errorNumber)) {
        case snline::ModbusFailure::NoAnswer:
        case snline::ModbusFailure::TargetFailed:
            return ScanAnswer::Kind::Silent;
        case snline::ModbusFailure::PathUnavailable:
            throw DeviceError("scan: the bus daemon cannot reach its line", errorNumber);
        case snline::ModbusFailure::NodeException:
            return ScanAnswer::Kind::Refused;
        case snline::ModbusFailure::Garbled:
            return ScanAnswer::Kind::Garbled;
        case snline::ModbusFailure::Other:
            break;
    }
    throw DeviceError("scan: cannot ask slave " + std::to_string(slave), errorNumber);
}

}  // namespace snctl
