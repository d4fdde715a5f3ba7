#include "nodeProbe.h"

#include <modbus.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "snline/modbusErrors.h"

namespace snctl {

namespace {

using std::chrono::microseconds;

// Below this a transaction cannot be made even on a fast line.
constexpr microseconds kShortestRead{2000};

using Read = int (*)(SensorNode*, NodeReadings&);

template <typename T, int (*Get)(SensorNode*, T*), std::optional<T> NodeReadings::*Field>
int readInto(SensorNode* node, NodeReadings& readings) {
    T value{};
    const int status = Get(node, &value);
    if (status == 0) readings.*Field = value;
    return status;
}

int readAnalog(SensorNode* node, NodeReadings& readings) {
    std::array<uint16_t, SN_ANALOG_CHANNELS> values{};
    const int status = snAnalogChans(node, 0, SN_ANALOG_CHANNELS, values.data());
    if (status == 0) readings.analog = values;
    return status;
}

template <uint16_t Output>
int readOutput(SensorNode* node, NodeReadings& readings) {
    const int state = snPowerIsOn(node, Output);
    if (state < 0) return -1;
    readings.outputs[Output] = state == 1;
    return 0;
}

constexpr Read kReads[] = {
    readInto<uint16_t, snGetSerialNum, &NodeReadings::serialNumber>,
    readInto<uint16_t, snGetSoftwareRev, &NodeReadings::softwareRevision>,
    readInto<uint32_t, snGetBoardConfig, &NodeReadings::boardConfig>,
    readInto<uint16_t, snGetHwConfig, &NodeReadings::hardwareConfig>,
    readInto<uint16_t, snGetPowerVector, &NodeReadings::powerVector>,
    readInto<uint16_t, getSensorNodeModbusTimeout, &NodeReadings::deviceTimeout>,
    readAnalog,
    readOutput<0>,
    readOutput<1>,
    readOutput<2>,
    readOutput<3>,
};
static_assert(std::size(kReads) == 7 + SN_POWER_OUTPUTS);

// After these the node is not there (or not reachable): further reads would
// each wait out their timeout under the library's one lock.
bool endsProbe(ProbeFailure failure) {
    return failure == ProbeFailure::Timeout || failure == ProbeFailure::Link ||
           failure == ProbeFailure::Deadline;
}

microseconds toMicroseconds(const timeval& tv) {
    return microseconds(static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec);
}

void setResponseTimeout(SensorNode* node, microseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
    tv.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000000);
    snModbusSetResponseTimeout(node, &tv);
}

void fail(NodeReadings& readings, ProbeFailure failure) {
    if (readings.failure == ProbeFailure::None) readings.failure = failure;
}

}  // namespace

LinkTimeouts linkTimeoutsOf(SensorNode* node) {
    timeval response{}, byte{};
    snModbusGetResponseTimeout(node, &response);
    snModbusGetByteTimeout(node, &byte);
    return LinkTimeouts{toMicroseconds(response), toMicroseconds(byte)};
}

std::optional<microseconds> readTimeout(microseconds remaining, std::size_t readsLeft,
                                        const LinkTimeouts& own) {
    if (readsLeft == 0) return std::nullopt;
    const microseconds share =
        (remaining - 2 * own.byte) / static_cast<microseconds::rep>(readsLeft);
    if (share < kShortestRead) return std::nullopt;
    return std::min(share, own.response);
}

ProbeFailure classifyFailure(int errorNumber) {
    switch (snline::classifyModbusError(errorNumber)) {
        case snline::ModbusFailure::NoAnswer:
        case snline::ModbusFailure::TargetFailed:  // the daemon's word for a silent node
            return ProbeFailure::Timeout;
        case snline::ModbusFailure::NodeException:
            return ProbeFailure::Refused;
        case snline::ModbusFailure::Garbled:
            return ProbeFailure::BadAnswer;
        case snline::ModbusFailure::PathUnavailable:  // the daemon has lost its line
        case snline::ModbusFailure::Other:
            break;
    }
    return ProbeFailure::Link;
}

void readNode(SensorNode* node, const LinkTimeouts& own, ProbeClock::time_point deadline,
              NodeReadings& readings, const ProbeProgress& progress) {
    const std::size_t reads = std::size(kReads);
    for (std::size_t i = 0; i < reads; ++i) {
        const auto remaining =
            std::chrono::duration_cast<microseconds>(deadline - ProbeClock::now());
        const std::optional<microseconds> timeout = readTimeout(remaining, reads - i, own);
        if (!timeout) {
            fail(readings, ProbeFailure::Deadline);
            return;
        }
        setResponseTimeout(node, *timeout);
        errno = 0;
        if (kReads[i](node, readings) != 0) {
            const ProbeFailure failure = classifyFailure(errno);
            fail(readings, failure);
            if (endsProbe(failure)) return;
        }
        if (!progress(readings)) {
            fail(readings, ProbeFailure::Deadline);
            return;
        }
    }
    readings.complete = readings.failure == ProbeFailure::None;
}

}  // namespace snctl
