// Trace lines: exact text on standard output, only when the debug level is set.
#include "libTestSupport.h"

#include <functional>

namespace {

class Trace : public NodeTest {
protected:
    std::string captured(const std::function<void()>& action) {
        testing::internal::CaptureStdout();
        snSetDebug(1);
        action();
        snSetDebug(0);
        return testing::internal::GetCapturedStdout();
    }
    std::string dev() const { return sim.devicePath(); }
};

TEST_F(Trace, NodeOpenAndCloseLines) {
    EXPECT_EQ(captured([&] {
                  SensorNode* n = openSensorNode(dev().c_str(), 115200, 1);
                  closeSensorNode(n);
              }),
              "openSensorNode(" + dev() + ", 115200, 1)\ncloseSensorNode(" + dev() + "[1])\n");
    EXPECT_EQ(captured([&] { openSensorNode(dev().c_str(), 9600, 0); }),
              "openSensorNode(" + dev() + ", 9600, 0)\n")
        << "the open traces before its checks";
    EXPECT_EQ(captured([&] { openSensorNode(nullptr, 9600, 1); }),
              "openSensorNode((null), 9600, 1)\n");
}

TEST_F(Trace, PortLines) {
    const std::string id = dev() + "[1,1]";
    EXPECT_EQ(captured([&] {
                  SnSerial* ser = snOpenSerial(node, 1);
                  snSerInit(ser, 9600, 'E', 2);
                  snSerSetTxEnbl(ser, 1);
                  snSerWrite(ser, "ab\0cd", 5);
                  char buf[4];
                  snSerRead(ser, buf, 4);
                  snSerDrain(ser, 0);
                  snSerIFlush(ser);
                  snSerOFlush(ser);
                  snSerBreak(ser, 0);
                  snSerClearErrFlags(ser, 0xFF);
                  snCloseSerial(ser);
              }),
              "snOpenSerial(" + dev() +
                  "[1], 1)\n"
                  "snSerInit(" +
                  id +
                  ", 9600, E, 2)\n"
                  "snSerSetTxEnbl(" +
                  id +
                  ", 1)\n"
                  "snSerWrite(" +
                  id +
                  ", p, 5)\n"
                  "Sending ab\n"
                  "snSerRead(" +
                  id +
                  ", p, 4)\n"
                  "snSerDrain(" +
                  id +
                  ", 0)\n"
                  "snSerIFlush(" +
                  id +
                  ")\n"
                  "snSerOFlush(" +
                  id +
                  ")\n"
                  "snSerBreak(" +
                  id +
                  ", 0)\n"
                  "snSerClearErrFlags(" +
                  id +
                  ", 255)\n"
                  "snCloseSerial(" +
                  dev() + "[1])\n");
}

TEST_F(Trace, ReadReportsReceivedCountAndErrorFlagsShowTheValue) {
    SnSerial* ser = snOpenSerial(node, 1);
    ASSERT_NE(ser, nullptr);
    sim.feedPort(1, {'x', 'y', 'z'});
    const std::string id = dev() + "[1,1]";
    EXPECT_EQ(captured([&] {
                  char buf[8];
                  snSerRead(ser, buf, 8);
                  uint16_t flags;
                  snSerGetErrFlags(ser, &flags);
              }),
              "snSerRead(" + id +
                  ", p, 8)\nsnSerRead got 3 chars\n"
                  "snSerGetErrFlags(" +
                  id + " = 0x0)\n");
}

TEST_F(Trace, NodeFunctionLinesAndSilentOnes) {
    EXPECT_EQ(captured([&] {
                  snPower(node, 2, 1);
                  snPowerIsOn(node, 2);
                  uint16_t word;
                  snGetPowerVector(node, &word);
                  snGetSerialNum(node, &word);
                  snBlinky(node, 1);
                  snPower(node, 9, 1);  // refused: no line
              }),
              "snPower(" + dev() + "[1], 2, 1)\nsnPowerIsOn(" + dev() +
                  "[1], 2)\n"
                  "snGetPowerVector(" +
                  dev() + "[1])\n");
}

TEST_F(Trace, NothingIsPrintedWithDebugOff) {
    testing::internal::CaptureStdout();
    SnSerial* ser = snOpenSerial(node, 0);
    snSerWrite(ser, "abc", 3);
    snPower(node, 1, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
