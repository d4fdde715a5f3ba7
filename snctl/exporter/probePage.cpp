#include "probePage.h"

#include "sncommon/hexText.h"
#include "sncommon/prometheusText.h"

namespace snctl {

namespace {

using sncommon::hexText;
using sncommon::MetricType;
using sncommon::PrometheusText;

void identity(PrometheusText& page, const NodeReadings& r) {
    if (!r.serialNumber || !r.softwareRevision || !r.boardConfig || !r.hardwareConfig) return;
    page.family("sn_node_info", MetricType::Gauge,
                "Identity of the node in its labels: serial number, software revision, board "
                "and hardware configuration; always 1.");
    page.sample({{"serial_number", std::to_string(*r.serialNumber)},
                 {"software_revision", hexText(*r.softwareRevision, 4)},
                 {"board_config", hexText(*r.boardConfig, 8)},
                 {"hardware_config", hexText(*r.hardwareConfig, 4)}},
                1);
}

void channels(PrometheusText& page, const NodeReadings& r) {
    if (r.analog) {
        page.family("sn_analog_value", MetricType::Gauge,
                    "Value of each analog channel, as the node reports it.");
        for (std::size_t c = 0; c < r.analog->size(); ++c)
            page.sample({{"channel", std::to_string(c)}}, (*r.analog)[c]);
    }
    bool anyOutput = false;
    for (const auto& output : r.outputs) anyOutput = anyOutput || output.has_value();
    if (!anyOutput) return;
    page.family("sn_power_output_on", MetricType::Gauge,
                "State of each power output: 1 on, 0 off.");
    for (std::size_t o = 0; o < r.outputs.size(); ++o) {
        if (r.outputs[o]) page.sample({{"output", std::to_string(o)}}, *r.outputs[o] ? 1 : 0);
    }
}

void registers(PrometheusText& page, const NodeReadings& r) {
    if (r.powerVector) {
        page.family("sn_power_vector", MetricType::Gauge, "The node's power vector register.");
        page.sample({}, *r.powerVector);
    }
    if (r.deviceTimeout) {
        page.family("sn_device_timeout", MetricType::Gauge,
                    "The node's Modbus timeout register, as the node counts it.");
        page.sample({}, *r.deviceTimeout);
    }
}

}  // namespace

std::string renderProbePage(const NodeReadings& readings, double seconds) {
    PrometheusText page;
    page.family("sn_up", MetricType::Gauge,
                "1 when every read of the node in this probe succeeded, else 0.");
    page.sample({}, readings.complete ? 1 : 0);
    page.family("sn_probe_duration_seconds", MetricType::Gauge, "How long this probe took.");
    page.sample({}, seconds);
    identity(page, readings);
    channels(page, readings);
    registers(page, readings);
    return page.text();
}

}  // namespace snctl
