// The edge node's session: a device born only once it can say everything
// and its changes by the plain topics' deadband and max-age, the bdSeq
// kept across restarts, and the command line that turns it on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "birthDeathSequence.h"
#include "channelSettings.h"
#include "mqttOptions.h"
#include "sparkplugDevice.h"

namespace {

using snmqtt::DeviceMessageKind;
namespace fs = std::filesystem;

snpoll::NodeStatus answering(double now) {
    snpoll::NodeStatus s;
    s.up = true;
    s.lastAnswer = now;
    s.outputsKnown = true;
    s.outputs = {true, false, false, true};
    s.identityKnown = true;
    s.serial = 4101;
    s.board = 0x00012345;
    for (std::size_t c = 0; c < s.analog.size(); ++c) s.analog[c] = static_cast<uint16_t>(100 * c);
    return s;
}

struct DeviceLife : ::testing::Test {
    DeviceLife() { channels.addDeadband("a/3=5"); }
    snmqtt::ChannelSettings channels;
    snmqtt::SparkplugDevice device{1, "a", channels, 1.0, 60.0};

    // What due() gives, taken as sent.
    std::optional<snmqtt::DeviceMessage> step(const snpoll::NodeStatus& s, double now) {
        auto message = device.due(s, now);
        if (message) device.sent(*message, now);
        return message;
    }
    static std::vector<uint64_t> aliases(const snmqtt::DeviceMessage& m) {
        std::vector<uint64_t> out;
        for (const auto& v : m.metrics) out.push_back(*v.alias);
        return out;
    }
};

TEST_F(DeviceLife, BornOnlyOnceItsIdentityIsKnownItsAliasesInABlockOfItsOwn) {
    snpoll::NodeStatus s = answering(1000);
    s.identityKnown = false;
    EXPECT_FALSE(step(s, 1000));
    s.identityKnown = true;
    const auto birth = step(s, 1000.5);
    ASSERT_TRUE(birth);
    EXPECT_EQ(birth->kind, DeviceMessageKind::Birth);
    ASSERT_EQ(birth->metrics.size(), snmqtt::kDeviceMetrics);
    for (std::size_t m = 0; m < birth->metrics.size(); ++m)
        EXPECT_EQ(*birth->metrics[m].alias, 512 + m);  // device 1's block
    // A command's read-back is reported even unchanged.
    device.reportOutputs();
    EXPECT_EQ(aliases(*step(s, 1001)), (std::vector<uint64_t>{512, 513, 514, 515}));
}

TEST_F(DeviceLife, DataCarriesOnlyWhatMovedBeyondItsDeadbandOrAged) {
    snpoll::NodeStatus s = answering(1000);
    step(s, 1000);
    EXPECT_FALSE(step(s, 1001));
    s.analog[3] = 305;  // within channel 3's deadband
    s.analog[4] = 401;
    s.outputs[1] = true;
    auto data = step(s, 1002);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->kind, DeviceMessageKind::Data);
    EXPECT_EQ(aliases(*data), (std::vector<uint64_t>{512 + 1, 512 + 8}));
    EXPECT_TRUE(data->metrics[0].name.empty());  // by alias alone
    s.analog[3] = 306;
    EXPECT_EQ(aliases(*step(s, 1003)), std::vector<uint64_t>{512 + 7});
    // Past the max-age each value again, a property too.
    s.lastAnswer = 1060;
    EXPECT_EQ(step(s, 1060)->metrics.size(), snmqtt::kDeviceMetrics - 3);
    s.lastAnswer = 1063;
    EXPECT_EQ(aliases(*step(s, 1063)), (std::vector<uint64_t>{512 + 1, 512 + 7, 512 + 8}));
}

struct StateDir : ::testing::Test {
    StateDir() : dir(fs::temp_directory_path() / ("sparkplug-" + std::to_string(getpid()))) {
        fs::remove_all(dir);
    }
    ~StateDir() override { fs::remove_all(dir); }
    fs::path dir;
    std::vector<std::string> logged;
    snmqtt::BirthDeathSequence make(const snmqtt::EdgeNodeId& id = {"G", "E"}) {
        return snmqtt::BirthDeathSequence(dir.string(), id,
                                          [this](const std::string& l) { logged.push_back(l); });
    }
};

TEST_F(StateDir, EachConnectionTakesTheNextNumberAndARestartGoesOnFromIt) {
    {
        auto sequence = make();
        EXPECT_EQ(sequence.next(), 0);  // reserved at the start
        EXPECT_EQ(sequence.next(), 1);
        EXPECT_EQ(sequence.next(), 2);
    }
    EXPECT_EQ(make().next(), 3);
    // Another edge node in the same directory counts on its own.
    EXPECT_EQ(make({"G", "other/one"}).next(), 0);
    EXPECT_EQ(make().next(), 4);
    EXPECT_TRUE(logged.empty());
}

TEST_F(StateDir, TheNumberWrapsAfter255AndAnUnreadableOneStartsAgainAtZero) {
    const std::string path = make().path();
    std::ofstream(path) << "255\n";
    auto sequence = make();
    EXPECT_EQ(sequence.next(), 0);
    EXPECT_EQ(sequence.next(), 1);
    std::ofstream(path) << "nonsense";
    EXPECT_EQ(make().next(), 0);
    std::ofstream(path) << "300";
    EXPECT_EQ(make().next(), 0);
}

snmqtt::MqttOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), {"--broker", "mqtt://127.0.0.1", "--target", "a=/dev/null"});
    return snmqtt::parseMqttOptions(args);
}

TEST(SparkplugOptions, TheEdgeNodeIdTheStateDirectoryAndThePlainTopicsSwitch) {
    const auto full = parse({"--sparkplug", "Plant 1/edge-7", "--state-dir", "/tmp/x"});
    EXPECT_TRUE(full.sparkplug && full.plain);
    EXPECT_EQ(full.sparkplugId.group, "Plant 1");
    EXPECT_EQ(full.sparkplugId.edge, "edge-7");
    EXPECT_EQ(full.stateDir, "/tmp/x");

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    setenv("STATE_DIRECTORY", "/run/a:/run/b", 1);
    const auto byHost = parse({"--sparkplug", "G", "--no-plain"});
    EXPECT_EQ(byHost.sparkplugId.edge, host);
    EXPECT_EQ(byHost.stateDir, "/run/a");
    EXPECT_FALSE(byHost.plain);
    unsetenv("STATE_DIRECTORY");
    EXPECT_EQ(parse({"--sparkplug", "G"}).stateDir, "/var/lib/snmqtt");

    for (const auto& bad :
         std::vector<std::vector<std::string>>{{"--sparkplug", "G/E/x"},
                                               {"--sparkplug", "G+/E"},
                                               {"--sparkplug", "/E"},
                                               {"--sparkplug", "G/"},
                                               {"--no-plain"},
                                               {"--sparkplug", "G", "--no-plain", "--port", "a/0"}})
        EXPECT_THROW(parse(bad), snmqtt::OptionError) << bad[0] << " " << bad[1];
}

}  // namespace
