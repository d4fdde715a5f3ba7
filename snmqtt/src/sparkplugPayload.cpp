#include "sparkplugPayload.h"

#include "sparkplugPayload.pb.h"

namespace snmqtt {

namespace {

void fill(spb::Payload::Metric& out, const MetricValue& metric) {
    if (!metric.name.empty()) out.set_name(metric.name);
    if (metric.alias) out.set_alias(*metric.alias);
    out.set_timestamp(metric.timestamp);
    out.set_datatype(static_cast<uint32_t>(metric.type));
    switch (metric.type) {
        case SparkplugType::Boolean:
            out.set_boolean_value(metric.value != 0);
            break;
        case SparkplugType::UInt64:
            out.set_long_value(metric.value);
            break;
        case SparkplugType::UInt16:
        case SparkplugType::UInt32:
            out.set_int_value(static_cast<uint32_t>(metric.value));
            break;
    }
}

}  // namespace

std::string encodePayload(const PayloadContent& content) {
    spb::Payload payload;
    payload.set_timestamp(content.timestamp);
    if (content.seq) payload.set_seq(*content.seq);
    for (const MetricValue& metric : content.metrics) fill(*payload.add_metrics(), metric);
    return payload.SerializeAsString();
}

}  // namespace snmqtt
