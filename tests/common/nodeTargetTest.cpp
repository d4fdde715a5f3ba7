// NAME=DEVICE targets and tcp: names, as every program reads them.
#include "sncommon/nodeTarget.h"
#include "snline/hostPort.h"

#include <gtest/gtest.h>

namespace {

TEST(TcpLinkName, TellsDaemonNamesFromDevicesAndParsesTheAddress) {
    snline::HostPort address;
    EXPECT_TRUE(snline::parseTcpLinkName("tcp:[::1]:1502", address));
    EXPECT_STREQ(address.host, "::1");
    EXPECT_STREQ(address.port, "1502");
    EXPECT_TRUE(snline::isTcpLinkName("tcp:nohost"));
    EXPECT_FALSE(snline::parseTcpLinkName("tcp:nohost", address));
    EXPECT_STREQ(address.host, "");  // nothing of a failed parse is left behind
    for (const char* device : {"/dev/ttyUSB0", "TCP:1.2.3.4:5", "tc", "", "/tmp/tcp:x:1"}) {
        EXPECT_FALSE(snline::isTcpLinkName(device)) << device;
        EXPECT_FALSE(snline::parseTcpLinkName(device, address)) << device;
    }
    EXPECT_FALSE(snline::isTcpLinkName(nullptr));
}

TEST(NodeTarget, ParsesSettingsInAnyOrderAndSaysWhatIsWrongWithoutAProgramName) {
    const auto target = sncommon::parseNodeTarget("rack-1=tcp:127.0.0.1:1502,baud=9600,slave=3");
    EXPECT_EQ(target.name, "rack-1");
    EXPECT_EQ(target.device, "tcp:127.0.0.1:1502");
    EXPECT_EQ(target.slave, 3);
    EXPECT_EQ(target.baud, 9600);
    EXPECT_EQ(sncommon::parseNodeTarget("a=COM3").device, "/dev/ttyS2");
    try {
        sncommon::parseNodeTarget("a=/dev/x,baud=fast");
        FAIL() << "a speed that is no number was taken";
    } catch (const sncommon::TargetError& error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("baud of a: 'fast'", 0), 0u) << what;
        EXPECT_NE(what.find("115200"), std::string::npos) << what;
    }
    // A name goes into pages and URLs unescaped: markup never passes.
    EXPECT_THROW(sncommon::parseNodeTarget("<b>=/dev/x"), sncommon::TargetError);
    EXPECT_THROW(sncommon::parseNodeTarget("a\"b=/dev/x"), sncommon::TargetError);
}

TEST(NodeTarget, RefusesANameOrANodeTwiceAndMoreThanTheMost) {
    std::vector<sncommon::NodeTarget> targets{sncommon::parseNodeTarget("a=/dev/x,slave=2")};
    EXPECT_THROW(sncommon::checkDistinctTarget(targets, sncommon::parseNodeTarget("a=/dev/y"), 4),
                 sncommon::TargetError);
    EXPECT_THROW(
        sncommon::checkDistinctTarget(targets, sncommon::parseNodeTarget("b=/dev/x,slave=2"), 4),
        sncommon::TargetError);
    EXPECT_NO_THROW(
        sncommon::checkDistinctTarget(targets, sncommon::parseNodeTarget("b=/dev/x,slave=3"), 4));
    EXPECT_THROW(sncommon::checkDistinctTarget(targets, sncommon::parseNodeTarget("b=/dev/y"), 1),
                 sncommon::TargetError);
}

}  // namespace
