// A Sparkplug B payload as bytes on the wire (protobuf), from our own
// description of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sparkplugMetrics.h"

namespace snmqtt {

struct PayloadContent {
    uint64_t timestamp = 0;       // milliseconds since the epoch, when sent
    std::optional<uint64_t> seq;  // every message but NDEATH has one
    std::vector<MetricValue> metrics;
};

std::string encodePayload(const PayloadContent& content);

}  // namespace snmqtt
