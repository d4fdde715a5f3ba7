// Home Assistant's discovery configs, read back as Home Assistant reads
// them: valid JSON, with the ids, topics and availability it needs.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "discovery.h"

namespace {

using nlohmann::json;
using snmqtt::RetainedMessage;

class Discovery : public ::testing::Test {
protected:
    Discovery() {
        channels.addChannel("rack1/0:Supply voltage:V:0.001");
        channels.addChannel(
            "1:Temp \"in\" \\ \xc2\xb0"
            "C:\xc2\xb0"
            "C:0.5:-40");
    }

    snmqtt::DiscoveryContext context(bool readOnly) const {
        return {"homeassistant", &topics, "snmqtt_host-1", readOnly};
    }

    // The configs by topic, each parsed; empty payloads kept as null.
    std::map<std::string, json> configs(const snmqtt::NodeIdentity& node, bool readOnly) const {
        std::map<std::string, json> byTopic;
        for (const RetainedMessage& m : snmqtt::nodeConfigs(context(readOnly), node, channels)) {
            EXPECT_TRUE(byTopic.count(m.topic) == 0) << m.topic << " twice";
            byTopic[m.topic] = m.payload.empty() ? json() : json::parse(m.payload, nullptr, false);
            EXPECT_FALSE(byTopic[m.topic].is_discarded()) << m.payload;
        }
        return byTopic;
    }

    const snmqtt::Topics topics{"site/snlib"};
    snmqtt::ChannelSettings channels;
    const snmqtt::NodeIdentity rack1{"rack1", 101, 0x0203};
    const snmqtt::NodeIdentity rack2{"rack2", 202, 0x0100};
};

TEST_F(Discovery, EveryEntityHasADistinctIdTheNodesDeviceAndBothAvailabilities) {
    std::set<std::string> ids;
    for (const auto& node : {rack1, rack2}) {
        std::size_t entities = 0;
        for (const auto& [topic, config] : configs(node, false)) {
            if (config.is_null()) continue;
            ++entities;
            EXPECT_TRUE(ids.insert(config.at("unique_id").get<std::string>()).second) << topic;
            const json& device = config.at("device");
            EXPECT_EQ(device.at("identifiers"),
                      json::array({"snlib_node_" + std::to_string(node.serial)}));
            EXPECT_EQ(device.at("name"), node.name);
            EXPECT_EQ(device.at("via_device"), "snmqtt_host-1");
            EXPECT_EQ(config.at("availability_mode"), "all");
            const json& availability = config.at("availability");
            ASSERT_EQ(availability.size(), 2u) << topic;
            EXPECT_EQ(availability[0].at("topic"), "site/snlib/bridge/state");
            EXPECT_EQ(availability[1].at("topic"), topics.availability(node.name));
            for (const json& a : availability) {
                EXPECT_EQ(a.at("payload_available"), "online");
                EXPECT_EQ(a.at("payload_not_available"), "offline");
            }
        }
        EXPECT_EQ(entities, 12u);
    }
    EXPECT_EQ(configs(rack1, false)
                  .at("homeassistant/sensor/snlib_101/analog_0/config")
                  .at("device")
                  .at("sw_version"),
              "0x0203");
}

TEST_F(Discovery, OutputsAreSwitchesOnTheNodesTopicsOrBinarySensorsWhenReadOnly) {
    const auto writable = configs(rack1, false);
    const json& power2 = writable.at("homeassistant/switch/snlib_101/power_2/config");
    EXPECT_EQ(power2.at("unique_id"), "snlib_101_power_2");
    EXPECT_EQ(power2.at("command_topic"), "site/snlib/rack1/power/2/set");
    EXPECT_EQ(power2.at("state_topic"), "site/snlib/rack1/power/2");
    EXPECT_EQ(power2.at("payload_on"), "ON");
    EXPECT_EQ(power2.at("state_off"), "OFF");
    EXPECT_EQ(power2.at("optimistic"), false);
    EXPECT_TRUE(writable.at("homeassistant/binary_sensor/snlib_101/power_2/config").is_null());

    const auto readOnly = configs(rack1, true);
    EXPECT_TRUE(readOnly.at("homeassistant/switch/snlib_101/power_2/config").is_null());
    const json& shown = readOnly.at("homeassistant/binary_sensor/snlib_101/power_2/config");
    EXPECT_EQ(shown.at("state_topic"), "site/snlib/rack1/power/2");
    EXPECT_EQ(shown.at("payload_on"), "ON");
    for (const auto& [topic, config] : readOnly)
        EXPECT_FALSE(config.contains("command_topic")) << topic;
}

TEST_F(Discovery, SensorsShowEachChannelsLabelUnitAndScaledValue) {
    const auto byTopic = configs(rack1, false);
    const json& supply = byTopic.at("homeassistant/sensor/snlib_101/analog_0/config");
    EXPECT_EQ(supply.at("unique_id"), "snlib_101_analog_0");
    EXPECT_EQ(supply.at("name"), "Supply voltage");
    EXPECT_EQ(supply.at("state_topic"), "site/snlib/rack1/analog/0");
    EXPECT_EQ(supply.at("state_class"), "measurement");
    EXPECT_EQ(supply.at("unit_of_measurement"), "V");
    EXPECT_EQ(supply.at("value_template"), "{{ ((value | float) * 0.001) | round(3) }}");
    // Quotes, a backslash and UTF-8 come through JSON as they were given.
    const json& temperature = byTopic.at("homeassistant/sensor/snlib_101/analog_1/config");
    EXPECT_EQ(temperature.at("name"),
              "Temp \"in\" \\ \xc2\xb0"
              "C");
    EXPECT_EQ(temperature.at("value_template"), "{{ ((value | float) * 0.5 - 40) | round(1) }}");
    const json& plain = byTopic.at("homeassistant/sensor/snlib_101/analog_7/config");
    EXPECT_EQ(plain.at("name"), "Analog 7");
    EXPECT_FALSE(plain.contains("unit_of_measurement"));
    EXPECT_FALSE(plain.contains("value_template"));
    // rack2 has no look of its own for channel 0.
    EXPECT_FALSE(configs(rack2, false)
                     .at("homeassistant/sensor/snlib_202/analog_0/config")
                     .contains("value_template"));
}

TEST(ValueTemplate, RoundsToTheDecimalsOfScaleAndOffsetAndStaysWholeWithoutAny) {
    EXPECT_EQ(snmqtt::valueTemplate({"", "", 1, 0}), "");
    EXPECT_EQ(snmqtt::valueTemplate({"", "", 2, 5}), "{{ (value | int) * 2 + 5 }}");
    EXPECT_EQ(snmqtt::valueTemplate({"", "", -0.25, 0}),
              "{{ ((value | float) * (-0.25)) | round(2) }}");
    EXPECT_EQ(snmqtt::valueTemplate({"", "", 1, 0.125}),
              "{{ ((value | float) + 0.125) | round(3) }}");
    EXPECT_EQ(snmqtt::valueTemplate({"", "", 1e-5, 0}),
              "{{ ((value | float) * 0.00001) | round(5) }}");
}

TEST_F(Discovery, TheTopicsToClearCoverEveryConfigOfANodeInEitherMode) {
    std::set<std::string> published;
    for (const bool readOnly : {false, true})
        for (const auto& [topic, config] : configs(rack2, readOnly)) published.insert(topic);
    const auto cleared = snmqtt::nodeConfigTopics("homeassistant", 202);
    EXPECT_EQ(std::set<std::string>(cleared.begin(), cleared.end()), published);
    EXPECT_EQ(cleared.size(), published.size());
}

TEST_F(Discovery, TheBridgeIsTheDeviceNodesAreSeenThrough) {
    const auto bridge = snmqtt::bridgeConfigs(context(false));
    ASSERT_EQ(bridge.size(), 1u);
    EXPECT_EQ(bridge[0].topic, "homeassistant/binary_sensor/snmqtt_host-1/connectivity/config");
    const json config = json::parse(bridge[0].payload);
    EXPECT_EQ(config.at("device_class"), "connectivity");
    EXPECT_EQ(config.at("state_topic"), topics.bridgeState());
    EXPECT_EQ(config.at("payload_on"), "online");
    EXPECT_EQ(config.at("payload_off"), "offline");
    EXPECT_EQ(config.at("device").at("identifiers"), json::array({"snmqtt_host-1"}));
    EXPECT_EQ(config.at("device").at("name"), "snmqtt snmqtt_host-1");
    EXPECT_FALSE(config.contains("availability"));
    const json node = json::parse(snmqtt::nodeConfigs(context(false), rack1, channels)[0].payload);
    EXPECT_EQ(node.at("device").at("via_device"), config.at("device").at("identifiers")[0]);
}

}  // namespace
