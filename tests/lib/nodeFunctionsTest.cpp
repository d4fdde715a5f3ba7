// Power outputs, analog channels and parameters, identity and configuration.
#include "libTestSupport.h"

namespace {

using Power = NodeTest;

TEST_F(Power, OutputsZeroToThreeSwitchTheirCoilsAndShowInTheVector) {
    EXPECT_EQ(snPower(node, 3, 1), 0);
    EXPECT_EQ(snPower(node, 0, -1), 0) << "any non-zero state is on";
    EXPECT_TRUE(sim.coil(3));
    EXPECT_TRUE(sim.coil(0));
    EXPECT_EQ(snPowerIsOn(node, 3), 1);
    EXPECT_EQ(snPowerIsOn(node, 1), 0);
    uint16_t vector = 0;
    EXPECT_EQ(snGetPowerVector(node, &vector), 0);
    EXPECT_EQ(vector, 0b1001);
    EXPECT_EQ(snPower(node, 3, 0), 0);
    EXPECT_FALSE(sim.coil(3));

    const auto log = transactions();
    ASSERT_GE(log.size(), 6u);
    EXPECT_TRANSACTION(log[0], 5, 3, 1);
    EXPECT_TRANSACTION(log[2], 1, 3, 1);
    EXPECT_TRANSACTION(log[4], 3, 19, 1);
}

TEST_F(Power, OutputFourIsRefusedWithoutTraffic) {
    errno = 0;
    EXPECT_EQ(snPower(node, 4, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snPowerIsOn(node, 4), -1);
    EXPECT_TRUE(transactions().empty());
}

TEST_F(Power, FailedReadIsMinusOneNotOff) {
    useShortResponseTimeout();
    sim.setFault(snsim::Fault::NoAnswer);
    EXPECT_EQ(snPowerIsOn(node, 0), -1);
    sim.setFault(snsim::Fault::None);
}

using Analog = NodeTest;

TEST_F(Analog, ChannelsAreReadFromThirtyOneOn) {
    sim.setReg(37, 3700);  // pins channels 6 and 7, which otherwise vary
    sim.setReg(38, 3800);
    uint16_t values[8] = {};
    EXPECT_EQ(snAnalogChans(node, 6, 2, values), 0);
    EXPECT_EQ(values[0], 3700);
    EXPECT_EQ(values[1], 3800);
    EXPECT_EQ(snAnalogChan(node, 0, values), 0);
    errno = 0;
    EXPECT_EQ(snAnalogChans(node, 6, 3, values), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snAnalogChan(node, 8, values), -1);
    EXPECT_EQ(snAnalogChans(node, 65535, 2, values), -1) << "first + count must not wrap";
    EXPECT_EQ(snAnalogChans(node, 0, 8, nullptr), -1);

    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRANSACTION(log[0], 3, 37, 2);
    EXPECT_TRANSACTION(log[1], 3, 31, 1);
}

TEST_F(Analog, ParametersAreWrittenAndReadTwoWordsPerChannel) {
    const uint16_t parms[4] = {11, 12, 21, 22};
    EXPECT_EQ(snSetAnalogParms(node, 1, 2, parms), 0);
    uint16_t back[4] = {};
    EXPECT_EQ(snGetAnalogParms(node, 1, 2, back), 0);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 4), std::vector<uint16_t>(parms, parms + 4));
    EXPECT_EQ(sim.reg(49), 11);
    EXPECT_EQ(sim.reg(52), 22);
    EXPECT_EQ(snSetAnalogParms(node, 7, 2, parms), -1);
    EXPECT_EQ(snGetAnalogParms(node, 0, 1, nullptr), -1);

    const auto log = transactions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRANSACTION(log[0], 16, 49, 4);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>(parms, parms + 4));
    EXPECT_TRANSACTION(log[1], 3, 49, 4);
}

using Identity = NodeTest;

TEST_F(Identity, RegistersAreReadFromTheirAddresses) {
    sim.setReg(15, 4711);
    sim.setReg(16, 0x0203);
    sim.setReg(17, 1);
    sim.setReg(18, 2);
    sim.setReg(20, 0xBEEF);
    uint16_t word = 0;
    EXPECT_EQ(snGetSerialNum(node, &word), 0);
    EXPECT_EQ(word, 4711);
    EXPECT_EQ(snGetSoftwareRev(node, &word), 0);
    EXPECT_EQ(word, 0x0203);
    EXPECT_EQ(snGetHwConfig(node, &word), 0);
    EXPECT_EQ(word, 0xBEEF);
    uint32_t board = 0;
    EXPECT_EQ(snGetBoardConfig(node, &board), 0);
    EXPECT_EQ(board, 0x00010002u);

    const auto log = transactions();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_TRANSACTION(log[0], 3, 15, 1);
    EXPECT_TRANSACTION(log[1], 3, 16, 1);
    EXPECT_TRANSACTION(log[2], 3, 20, 1);
    EXPECT_TRANSACTION(log[3], 3, 17, 2);
}

TEST_F(Identity, MissingDestinationsAreRefusedWithoutTraffic) {
    EXPECT_EQ(snGetSerialNum(node, nullptr), -1);
    EXPECT_EQ(snGetSoftwareRev(node, nullptr), -1);
    EXPECT_EQ(snGetHwConfig(node, nullptr), -1);
    EXPECT_EQ(snGetBoardConfig(node, nullptr), -1);
    EXPECT_EQ(snGetPowerVector(node, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(transactions().empty());
}

using Configuration = NodeTest;

TEST_F(Configuration, BlinkPatternsSetCoilsNineAndTen) {
    struct Case {
        int pattern;
        uint16_t coil9, coil10;
    };
    for (const Case c : {Case{0, 0, 0}, Case{1, 0, 1}, Case{2, 1, 0}, Case{-1, 1, 0}}) {
        sim.clearLog();
        ASSERT_EQ(snBlinky(node, c.pattern), 0);
        const auto log = transactions();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_TRANSACTION(log[0], 15, 9, 2);
        EXPECT_EQ(log[0].values, (std::vector<uint16_t>{c.coil9, c.coil10})) << c.pattern;
        EXPECT_EQ(sim.coil(9), c.coil9 != 0);
        EXPECT_EQ(sim.coil(10), c.coil10 != 0);
    }
}

TEST_F(Configuration, DcAlwaysOnAndConfigurationReset) {
    EXPECT_EQ(snSetDCAlwaysOn(node, 1), 0);
    EXPECT_TRUE(sim.coil(11));
    EXPECT_EQ(snSetDCAlwaysOn(node, 0), 0);
    EXPECT_FALSE(sim.coil(11));
    EXPECT_EQ(snResetConfigMode(node), 0);
    EXPECT_FALSE(sim.coil(12)) << "the reset coil reads back off";
    const auto log = transactions();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_TRANSACTION(log[0], 5, 11, 1);
    EXPECT_TRANSACTION(log[2], 5, 12, 1);
    EXPECT_EQ(log[2].values, std::vector<uint16_t>{1});
}

// A node whose link was freed must never hand a null context to libmodbus.
TEST_F(Configuration, ClosedNodeIsRefusedByEveryNodeFunction) {
    SensorNode* other = node;
    ASSERT_EQ(closeSensorNode(other), 0);
    sim.clearLog();
    uint16_t word;
    uint32_t board;
    uint16_t words[16];
    errno = 0;
    EXPECT_EQ(snPower(other, 0, 1), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snPowerIsOn(other, 0), -1);
    EXPECT_EQ(snGetPowerVector(other, &word), -1);
    EXPECT_EQ(snAnalogChan(other, 0, &word), -1);
    EXPECT_EQ(snAnalogChans(other, 0, 2, words), -1);
    EXPECT_EQ(snSetAnalogParms(other, 0, 2, words), -1);
    EXPECT_EQ(snGetAnalogParms(other, 0, 2, words), -1);
    EXPECT_EQ(snGetSerialNum(other, &word), -1);
    EXPECT_EQ(snGetSoftwareRev(other, &word), -1);
    EXPECT_EQ(snGetBoardConfig(other, &board), -1);
    EXPECT_EQ(snGetHwConfig(other, &word), -1);
    EXPECT_EQ(snSetDCAlwaysOn(other, 1), -1);
    EXPECT_EQ(snResetConfigMode(other), -1);
    EXPECT_EQ(snBlinky(other, 1), -1);
    EXPECT_EQ(setSensorNodeModbusTimeout(other, 100), -1);
    EXPECT_EQ(getSensorNodeModbusTimeout(other, &word), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(snPower(nullptr, 0, 1), -1);
    EXPECT_EQ(snBlinky(nullptr, 0), -1);
    EXPECT_TRUE(transactions().empty());
}

}  // namespace
