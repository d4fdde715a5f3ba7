// What one probe read from a node, each value only once its read
// succeeded, and the first failure if any.
#pragma once

#include "snLimits.h"

#include <array>
#include <cstdint>
#include <optional>

namespace snctl {

// Why a probe did not read everything, by the first read that failed.
enum class ProbeFailure {
    None,
    Open,       // the device or the bus daemon could not be opened
    Timeout,    // the node did not answer (directly, or said so by the daemon)
    Refused,    // the node answered with a Modbus exception
    BadAnswer,  // garbled: bad CRC, another slave's answer, wrong length
    Link,       // the serial device or the connection to the daemon failed
    Deadline,   // the scrape's time ran out first
};

inline constexpr std::array<ProbeFailure, 6> kProbeFailures = {
    ProbeFailure::Open,      ProbeFailure::Timeout, ProbeFailure::Refused,
    ProbeFailure::BadAnswer, ProbeFailure::Link,    ProbeFailure::Deadline};

// The label value of a failure kind on /metrics.
constexpr const char* failureKind(ProbeFailure failure) {
    switch (failure) {
        case ProbeFailure::None:
            return "none";
        case ProbeFailure::Open:
            return "open";
        case ProbeFailure::Timeout:
            return "timeout";
        case ProbeFailure::Refused:
            return "refused";
        case ProbeFailure::BadAnswer:
            return "bad_answer";
        case ProbeFailure::Link:
            return "link";
        case ProbeFailure::Deadline:
            return "deadline";
    }
    return "none";
}

struct NodeReadings {
    std::optional<uint16_t> serialNumber;
    std::optional<uint16_t> softwareRevision;
    std::optional<uint32_t> boardConfig;
    std::optional<uint16_t> hardwareConfig;
    std::optional<uint16_t> powerVector;
    std::optional<uint16_t> deviceTimeout;
    std::optional<std::array<uint16_t, SN_ANALOG_CHANNELS>> analog;
    std::array<std::optional<bool>, SN_POWER_OUTPUTS> outputs{};
    ProbeFailure failure = ProbeFailure::None;
    bool complete = false;  // every read made, and every one succeeded
};

}  // namespace snctl
