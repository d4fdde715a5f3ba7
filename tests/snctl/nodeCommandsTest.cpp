// snctl's node-level commands against the emulator: what they print and
// what they did to the node's coils and registers.
#include "snctlFixture.h"

using sntest::RunResult;

namespace {

using Values = std::vector<uint16_t>;

TEST_F(SnctlTest, InfoPrintsIdentityAndConfigurationRegisters) {
    sim.setReg(15, 4711);
    sim.setReg(16, 0x0102);
    sim.setReg(17, 0x00AB);
    sim.setReg(18, 0xCDEF);
    sim.setReg(19, 0x0005);
    sim.setReg(20, 0x0033);
    const RunResult text = snctl({"info"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "serial number: 4711\nsoftware revision: 0x0102\nboard config: 0x00abcdef\n"
              "hardware config: 0x0033\npower vector: 0x0005\ndevice timeout: 200\n");
    const RunResult json = snctl({"info"}, {"--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"serial_number\":4711,\"software_revision\":258,\"board_config\":11259375,"
              "\"hardware_config\":51,\"power_vector\":5,\"device_timeout\":200}\n");
}

TEST_F(SnctlTest, PowerSwitchesTheOutputCoilAndReadsItBack) {
    RunResult run = snctl({"power", "3", "on"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "output: 3\nstate: on\n");
    EXPECT_TRUE(sim.coil(3));
    EXPECT_FALSE(sim.coil(2));
    auto traffic = commandTraffic();
    ASSERT_EQ(traffic.size(), 1u);
    EXPECT_EQ(traffic[0].function, 5);
    EXPECT_EQ(traffic[0].address, 3);

    run = snctl({"power", "3", "off"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(sim.coil(3));

    sim.setCoil(1, true);
    run = snctl({"power", "1", "status"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"output\":1,\"state\":\"on\"}\n");
    EXPECT_EQ(snctl({"power", "0", "status"}).out, "output: 0\nstate: off\n");
}

TEST_F(SnctlTest, AnalogReadsAllChannelsInOneRequestOrTheChosenOnes) {
    for (int c = 0; c < 8; ++c) sim.setReg(31 + c, static_cast<uint16_t>(1000 + c));
    RunResult run = snctl({"analog"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "channel 0: 1000\nchannel 1: 1001\nchannel 2: 1002\nchannel 3: 1003\n"
              "channel 4: 1004\nchannel 5: 1005\nchannel 6: 1006\nchannel 7: 1007\n");
    auto traffic = commandTraffic();
    ASSERT_EQ(traffic.size(), 1u);
    EXPECT_EQ(traffic[0].function, 3);
    EXPECT_EQ(traffic[0].address, 31);
    EXPECT_EQ(traffic[0].quantity, 8);

    run = snctl({"analog", "7", "2"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"channels\":[{\"channel\":7,\"value\":1007},{\"channel\":2,\"value\":1002}]}\n");
}

TEST_F(SnctlTest, ParamsWriteTwoWordsPerChannelAndReadThemBack) {
    RunResult run = snctl({"params", "set", "6", "1", "0x0202", "65535", "4"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sim.reg(47 + 12), 1);
    EXPECT_EQ(sim.reg(48 + 12), 0x0202);
    EXPECT_EQ(sim.reg(47 + 14), 65535);
    EXPECT_EQ(sim.reg(48 + 14), 4);
    auto traffic = commandTraffic();
    ASSERT_EQ(traffic.size(), 1u);
    EXPECT_EQ(traffic[0].function, 16);
    EXPECT_EQ(traffic[0].address, 59);
    EXPECT_EQ(traffic[0].values, (Values{1, 0x0202, 65535, 4}));

    run = snctl({"params", "get", "6", "2"}, {"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "{\"params\":[{\"channel\":6,\"words\":[1,514]},{\"channel\":7,\"words\":[65535,4]}]}\n");
}

TEST_F(SnctlTest, ConfigurationCoilsAndDeviceTimeout) {
    ASSERT_EQ(snctl({"blink", "1"}).status, 0);
    ASSERT_EQ(snctl({"dc", "on"}).status, 0);
    EXPECT_TRUE(sim.coil(11));
    ASSERT_EQ(snctl({"reset-config"}).status, 0);
    const RunResult timeout = snctl({"timeout", "set", "300"});
    ASSERT_EQ(timeout.status, 0) << timeout.err;
    EXPECT_EQ(timeout.out, "device timeout: 300\n");
    EXPECT_EQ(sim.reg(21), 300);

    const auto traffic = commandTraffic();
    ASSERT_EQ(traffic.size(), 4u);
    EXPECT_EQ(traffic[0].function, 15);
    EXPECT_EQ(traffic[0].address, 9);
    EXPECT_EQ(traffic[0].quantity, 2);
    EXPECT_EQ(traffic[1].function, 5);
    EXPECT_EQ(traffic[1].address, 11);
    EXPECT_EQ(traffic[2].function, 5);
    EXPECT_EQ(traffic[2].address, 12);
    EXPECT_EQ(traffic[2].values, Values{1});
    EXPECT_EQ(traffic[3].function, 6);
    EXPECT_EQ(traffic[3].address, 21);
    EXPECT_EQ(traffic[3].values, Values{300});
}

TEST_F(SnctlTest, BadArgumentsAreRefusedBeforeAnyTraffic) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"power", "4", "on"}, "power output must be a number from 0 to 3, not '4'"},
        {{"power", "1x", "on"}, "power output must be a number from 0 to 3, not '1x'"},
        {{"power", "1", "maybe"}, "power 1: expected on or off, not 'maybe'"},
        {{"analog", "8"}, "channel must be a number from 0 to 7, not '8'"},
        {{"params", "set", "7", "1", "2", "3", "4"},
         "params set: channels 7 to 8 go past channel 7"},
        {{"params", "set", "0", "1"}, "params set: expected"},
        {{"params", "set", "0", "1", "65536"}, "parameter word must be a number from 0 to 65535"},
        {{"blink", "3"}, "blink pattern must be a number from 0 to 2, not '3'"},
        {{"timeout", "set", "19"}, "device timeout must be a number from 20 to 65535, not '19'"},
        {{"timeout", "set", ""}, "device timeout must be a number"},
        {{"info", "extra"}, "info: expected no arguments"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{}, "no command given"},
        {{"power", "1", "on", "--json"}, "power: expected"},
    };
    for (const Case& c : cases) {
        const RunResult run = snctl(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find("snctl: " + c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_TRUE(commandTraffic().empty());
    EXPECT_EQ(snctl({"info"}, {"-a", "0"}).status, 2);
    EXPECT_EQ(snctl({"info"}, {"-m", "fast"}).status, 2);
    EXPECT_EQ(snctl({"info"}, {"-d", "4"}).status, 2);
}

// A Modbus speed the serial driver cannot set, and an empty device name,
// are refused before anything is opened.
TEST_F(SnctlTest, UnusableModbusSpeedAndEmptyDeviceAreUsageErrors) {
    RunResult run = snctl({"info"}, {"-m", "12345"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "snctl: -m (Modbus speed): 12345 is not a speed the serial driver can set; use one "
              "of 110 300 600 1200 2400 4800 9600 19200 38400 57600 115200 230400 460800 500000 "
              "576000 921600 1000000 1152000 1500000 2000000 2500000 3000000 3500000 4000000\n");
    run = sntest::runProgram({SNCTL_PATH, "-p", "", "info"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "snctl: -p (serial device) needs a name\n");
    EXPECT_TRUE(sim.log().empty());
}

// The line names the failure in words and keeps libmodbus's text, never an
// errno: libmodbus's own codes would show as numbers above 112345678.
TEST_F(SnctlTest, DeviceFailuresSayWhatWentWrongInWordsAndExitOne) {
    struct Case {
        snsim::Fault fault;
        int exceptionCode;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {snsim::Fault::NoAnswer,
         0,
         {"power", "2", "on"},
         "snctl: cannot switch power output 2 on: no node answers at slave 1\n"},
        {snsim::Fault::Exception,
         2,
         {"analog", "3"},
         "snctl: cannot read analog channel 3: the node refused the request (Illegal data "
         "address)\n"},
        {snsim::Fault::Exception,
         6,
         {"analog"},
         "snctl: cannot read analog channels: the node refused the request (Slave device or "
         "server is busy)\n"},
        {snsim::Fault::BadCrc,
         0,
         {"analog"},
         "snctl: cannot read analog channels: garbled answer (Invalid CRC)\n"},
        {snsim::Fault::WrongSlave,
         0,
         {"analog"},
         // Another slave's frame is not the answer: the wait goes on past it.
         "snctl: cannot read analog channels: no node answers at slave 1\n"},
    };
    for (const Case& c : cases) {
        sim.setFault(c.fault, {}, c.exceptionCode);
        const RunResult run = snctl(c.args);
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_TRUE(run.out.empty()) << run.out;
    }

    RunResult run = sntest::runProgram({SNCTL_PATH, "-p", "/nonexistent/tty", "info"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "snctl: cannot open node 1 on /nonexistent/tty at 115200 bit/s: no such device (No "
              "such file or directory)\n");
    run = sntest::runProgram({SNCTL_PATH, "-p", "/dev/null", "info"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "snctl: cannot open node 1 on /dev/null at 115200 bit/s: device not usable "
              "(Inappropriate ioctl for device)\n");
}

TEST_F(SnctlTest, SlaveAddressAndDebugBitsReachTheLibrary) {
    const RunResult other = snctl({"power", "0", "on"}, {"-a", "9"});
    EXPECT_EQ(other.status, 1) << "slave 9 is not emulated";
    EXPECT_FALSE(sim.coil(0));
    ASSERT_FALSE(sim.log().empty());
    EXPECT_EQ(sim.log().back().slave, 9);

    const RunResult traced = snctl({"power", "0", "on"}, {"-d", "1"});
    ASSERT_EQ(traced.status, 0) << traced.err;
    EXPECT_NE(traced.out.find("snPower("), std::string::npos) << traced.out;
    const RunResult frames = snctl({"power", "0", "off"}, {"-d", "2"});
    ASSERT_EQ(frames.status, 0) << frames.err;
    EXPECT_EQ(frames.out.find("snPower("), std::string::npos);
    EXPECT_NE(frames.out.find("[01]"), std::string::npos)
        << "libmodbus frame dump expected: " << frames.out;

    // With --json the debug output goes to standard error: stdout stays JSON.
    const RunResult json = snctl({"power", "0", "status"}, {"-d", "3", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out, "{\"output\":0,\"state\":\"off\"}\n");
    EXPECT_NE(json.err.find("snPowerIsOn("), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("[01]"), std::string::npos) << json.err;
}

}  // namespace
