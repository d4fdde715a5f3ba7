// The node's register map as a master sees it.
#include "simClient.h"

using namespace simtest;

class MapTest : public SimTest {
protected:
    void SetUp() override { startWith(defaultOptions()); }
};

TEST_F(MapTest, IdentityRegistersAnswerAndMatchApi) {
    std::vector<uint16_t> r;
    ASSERT_EQ(client().readRegs(15, 7, r), 7);
    EXPECT_EQ(r[0], emu().reg(15));
    EXPECT_NE(r[0], 0);  // serial number
    EXPECT_NE(r[1], 0);  // software revision
    EXPECT_EQ(r[2], emu().reg(17));
    EXPECT_EQ(r[3], emu().reg(18));
    EXPECT_EQ(r[4], 0);  // power vector: all off
    EXPECT_EQ(r[6], emu().reg(21));
}

TEST_F(MapTest, DeviceTimeoutIsWritable) {
    ASSERT_EQ(client().writeReg(21, 200), 1);
    EXPECT_EQ(client().readReg(21), 200);
    EXPECT_EQ(emu().reg(21), 200);
}

TEST_F(MapTest, PortBlockDefaultsAre9600_8N1) {
    for (int p = 0; p < 3; ++p) {
        std::vector<uint16_t> r;
        ASSERT_EQ(client().readRegs(256 * p + 255, 2, r), 2);
        EXPECT_EQ(r[0], 2400);
        EXPECT_EQ(r[1], 8);
    }
    // snSerInit's transaction: two registers at B+255.
    const uint16_t settings[2] = {19200 / 4, 13};
    ASSERT_EQ(modbus_write_registers(client().ctx(), 511, 2, settings), 2);
    EXPECT_EQ(emu().reg(511), 4800);
    EXPECT_EQ(emu().reg(512), 13);
}

TEST_F(MapTest, AddressesOutsideTheMapGiveIllegalAddress) {
    for (int addr : {0, 14, 22, 30, 39, 46, 63, 253, 258, 260, 261, 383, 385, 389, 1023, 5000}) {
        errno = 0;
        EXPECT_EQ(client().readReg(addr), -1) << addr;
        EXPECT_EQ(errno, EMBXILADD) << addr;
    }
    // A read that straddles the end of the identity registers.
    std::vector<uint16_t> r;
    EXPECT_EQ(client().readRegs(20, 3, r), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // Read-only registers refuse writes.
    EXPECT_EQ(client().writeReg(15, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(client().writeReg(259, 0), -1);
    // Unmapped coils.
    EXPECT_EQ(client().writeCoil(7, true), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(client().readCoil(13), -1);
    // Every address the library uses answers.
    for (int addr : {15,  16,  17,  18,  19,  20,  21,  31,  38,  47,  62,  254,
                     255, 256, 257, 259, 262, 386, 387, 388, 390, 511, 767, 1022}) {
        EXPECT_GE(client().readReg(addr), 0) << addr;
    }
}

TEST_F(MapTest, ZeroRegisterReadIsAnsweredWithAnException) {
    std::vector<uint16_t> r;
    EXPECT_EQ(client().readRegs(31, 0, r), -1);
    EXPECT_EQ(errno, EMBXILVAL);
    EXPECT_EQ(client().readReg(31) >= 0, true);  // line still in step
}

TEST_F(MapTest, PowerCoilsShowInPowerVector) {
    ASSERT_EQ(client().writeCoil(0, true), 1);
    ASSERT_EQ(client().writeCoil(3, true), 1);
    EXPECT_EQ(client().readCoil(3), 1);
    EXPECT_EQ(client().readCoil(2), 0);
    EXPECT_EQ(client().readReg(19), 0b1001);
    ASSERT_EQ(client().writeCoil(0, false), 1);
    EXPECT_EQ(client().readReg(19), 0b1000);
    emu().setReg(19, 0b0110);
    EXPECT_TRUE(emu().coil(1));
    EXPECT_FALSE(emu().coil(3));
}

// A node whose power vector means something else: the coils alone tell
// the outputs, so a client that reads register 19 for them is caught.
TEST_F(MapTest, AFixedPowerVectorIgnoresTheCoils) {
    snsim::Options options = defaultOptions();
    options.powerVector = 0x00A5;
    client_.reset();
    emu().stop();
    startWith(options);
    ASSERT_EQ(client().writeCoil(1, true), 1);
    EXPECT_EQ(client().readCoil(1), 1);
    EXPECT_EQ(client().readCoil(0), 0);
    EXPECT_EQ(client().readReg(19), 0x00A5);
    EXPECT_EQ(emu().reg(19), 0x00A5);
}

TEST_F(MapTest, BlinkAndDcCoilsAreKept) {
    const uint8_t pattern[2] = {1, 0};
    ASSERT_EQ(modbus_write_bits(client().ctx(), 9, 2, pattern), 2);
    EXPECT_TRUE(emu().coil(9));
    EXPECT_FALSE(emu().coil(10));
    ASSERT_EQ(client().writeCoil(11, true), 1);
    EXPECT_EQ(client().readCoil(11), 1);
}

TEST_F(MapTest, ResetConfigurationCoilRestoresDefaultsAndReadsOff) {
    ASSERT_EQ(client().writeReg(21, 500), 1);
    const uint16_t parms[2] = {7, 9};
    ASSERT_EQ(modbus_write_registers(client().ctx(), 49, 2, parms), 2);
    ASSERT_EQ(client().writeReg(255, 300), 1);
    ASSERT_EQ(client().writeCoil(11, true), 1);
    ASSERT_EQ(client().writeCoil(2, true), 1);
    ASSERT_EQ(client().writeCoil(12, true), 1);
    EXPECT_EQ(client().readCoil(12), 0);
    EXPECT_EQ(client().readReg(21), 100);
    EXPECT_EQ(client().readReg(255), 2400);
    EXPECT_EQ(client().readReg(49), 1);
    EXPECT_EQ(client().readCoil(11), 0);
    EXPECT_EQ(client().readCoil(2), 1);  // power is not configuration
}

TEST_F(MapTest, AnalogValuesChangeAndParametersAreKept) {
    std::vector<uint16_t> a, b;
    ASSERT_EQ(client().readRegs(31, 8, a), 8);
    for (uint16_t v : a) EXPECT_LT(v, 4096);
    EXPECT_TRUE(eventually([&] {
        client().readRegs(31, 8, b);
        return a != b;
    }));
    emu().setReg(33, 1234);  // pinned
    EXPECT_EQ(client().readReg(33), 1234);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(client().readReg(33), 1234);

    std::vector<uint16_t> parms(16);
    for (std::size_t i = 0; i < 16; ++i) parms[i] = static_cast<uint16_t>(100 + i);
    ASSERT_EQ(modbus_write_registers(client().ctx(), 47, 16, parms.data()), 16);
    std::vector<uint16_t> back;
    ASSERT_EQ(client().readRegs(47, 16, back), 16);
    EXPECT_EQ(back, parms);
}

TEST_F(MapTest, LogRecordsEveryRequest) {
    emu().clearLog();
    ASSERT_EQ(client().writeReg(21, 250), 1);
    ASSERT_EQ(client().send(1, bytesOf("xyz")), 0);  // port closed: nothing taken
    ASSERT_TRUE(emu().waitForLog(2, 1s));
    const auto log = emu().log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].slave, 1);
    EXPECT_EQ(log[0].function, 6);
    EXPECT_EQ(log[0].address, 21);
    EXPECT_EQ(log[0].quantity, 1);
    EXPECT_EQ(log[0].values, std::vector<uint16_t>{250});
    EXPECT_TRUE(log[0].answered);
    EXPECT_EQ(log[1].function, 23);
    EXPECT_EQ(log[1].address, 646);
    EXPECT_EQ(log[1].quantity, 3);
    EXPECT_EQ(log[1].values, (std::vector<uint16_t>{3, 0x7879, 0x7A00}));
    EXPECT_EQ(log[1].readAddress, 642);
    EXPECT_EQ(log[1].readQuantity, 1);
    EXPECT_LE(log[0].when, log[1].when);
    EXPECT_FALSE(emu().waitForLog(3, 50ms));
}

TEST(MultiSlave, EachAddressHasItsOwnMapAndOthersAreIgnored) {
    snsim::Options o;
    o.slaves = {1, 2};
    snsim::Emulator emu(o);
    ASSERT_TRUE(emu.start());
    Client c(emu.devicePath());
    ASSERT_TRUE(c.ok());
    c.slave(2);
    ASSERT_EQ(c.writeReg(21, 321), 1);
    ASSERT_EQ(c.writeCoil(4, true), 1);
    EXPECT_EQ(emu.reg(21, 2), 321);
    EXPECT_NE(emu.reg(21, 1), 321);
    EXPECT_EQ(c.send(0, bytesOf("hi")), 2);
    EXPECT_TRUE(eventually([&] { return emu.takePortOutput(0, 2).size() == 2; }));
    EXPECT_NE(emu.reg(15, 1), emu.reg(15, 2));
    c.slave(1);
    EXPECT_EQ(c.readReg(21), emu.reg(21, 1));
    // Slave 3 is not on the line: no answer, and the line stays usable.
    c.slave(3);
    c.timeout(150ms);
    EXPECT_EQ(c.readReg(21), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    c.slave(2);
    EXPECT_EQ(c.readReg(21), 321);
    const auto log = emu.log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].slave, 3);
    EXPECT_FALSE(log[log.size() - 2].answered);
}
