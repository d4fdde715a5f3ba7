// What a Sparkplug host sends snmqtt's edge node: DCMD and NCMD payloads,
// and the topics they come on.  Whatever arrives, nothing crashes, a
// command is taken whole (only outputs, each in range) or refused whole
// with one printable line, and only our own command topics are taken.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sparkplugCommand.h"
#include "sparkplugMetrics.h"
#include "sparkplugTopics.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

bool printable(const std::string& line) {
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first device, and another one as the size picks it: aliases
    // depend on the device.
    for (const std::size_t device : {std::size_t{0}, size % 16}) {
        const snmqtt::DeviceCommand command = snmqtt::parseDeviceCommand(bytes, device);
        check(command.refusal.empty() != command.writes.empty());
        check(command.writes.size() <= snmqtt::kMostCommandMetrics);
        check(printable(command.refusal) && command.refusal.size() < 300);
        for (const snmqtt::DeviceWrite& write : command.writes)
            check(write.output >= 0 && write.output < static_cast<int>(snmqtt::kPowerMetrics));
    }

    const snmqtt::NodeCommand node = snmqtt::parseNodeCommand(bytes);
    check(!(node.rebirth && !node.refusal.empty()));
    check(printable(node.refusal) && node.refusal.size() < 300);

    static const snmqtt::SparkplugTopics topics({"G", "E"});
    const auto topic = topics.parseCommand(bytes);
    if (topic && topic->forDevice) {
        check(bytes == topics.device("DCMD", topic->device));
        check(!topic->device.empty() && topic->device.find('/') == std::string::npos);
    } else if (topic) {
        check(bytes == "spBv1.0/G/NCMD/E");
    }
    return 0;
}
