// Every public function against null handles, closed nodes and ports,
// out-of-range numbers and missing buffers: EINVAL, no traffic, no crash.
#include "libTestSupport.h"

#include <functional>
#include <string>

namespace {

struct BadCall {
    std::string what;
    std::function<int()> call;
    int refusal;  // the value the function returns when it refuses
};

class BadInput : public NodeTest {
protected:
    std::vector<BadCall> nodeCalls(SensorNode* n, const std::string& label) {
        uint16_t w[16] = {};
        uint32_t board = 0;
        return {
            {label + " closeSensorNode", [=] { return closeSensorNode(n); }, -1},
            {label + " setTimeout", [=] { return setSensorNodeModbusTimeout(n, 100); }, -1},
            {label + " getTimeout", [=]() mutable { return getSensorNodeModbusTimeout(n, w); }, -1},
            {label + " snOpenSerial", [=] { return snOpenSerial(n, 0) == nullptr ? -1 : 0; }, -1},
            {label + " snPower", [=] { return snPower(n, 0, 1); }, -1},
            {label + " snPowerIsOn", [=] { return snPowerIsOn(n, 0); }, -1},
            {label + " snGetPowerVector", [=]() mutable { return snGetPowerVector(n, w); }, -1},
            {label + " snAnalogChan", [=]() mutable { return snAnalogChan(n, 0, w); }, -1},
            {label + " snAnalogChans", [=]() mutable { return snAnalogChans(n, 0, 8, w); }, -1},
            {label + " snSetAnalogParms", [=] { return snSetAnalogParms(n, 0, 8, w); }, -1},
            {label + " snGetAnalogParms", [=]() mutable { return snGetAnalogParms(n, 0, 8, w); },
             -1},
            {label + " snGetSerialNum", [=]() mutable { return snGetSerialNum(n, w); }, -1},
            {label + " snGetSoftwareRev", [=]() mutable { return snGetSoftwareRev(n, w); }, -1},
            {label + " snGetBoardConfig", [=]() mutable { return snGetBoardConfig(n, &board); },
             -1},
            {label + " snGetHwConfig", [=]() mutable { return snGetHwConfig(n, w); }, -1},
            {label + " snSetDCAlwaysOn", [=] { return snSetDCAlwaysOn(n, 1); }, -1},
            {label + " snResetConfigMode", [=] { return snResetConfigMode(n); }, -1},
            {label + " snBlinky", [=] { return snBlinky(n, 1); }, -1},
        };
    }

    std::vector<BadCall> portCalls(SnSerial* s, const std::string& label) {
        uint8_t buf[8] = {};
        uint16_t flags = 0;
        return {
            {label + " snCloseSerial", [=] { return snCloseSerial(s); }, -1},
            {label + " snSerInit", [=] { return snSerInit(s, 9600, 'N', 1); }, -1},
            {label + " snSerSetTxEnbl", [=] { return snSerSetTxEnbl(s, 1); }, -1},
            {label + " snSerRead", [=]() mutable { return snSerRead(s, buf, 8); }, 0},
            {label + " snSerWrite", [=] { return snSerWrite(s, buf, 8); }, 0},
            {label + " snSerDrain", [=] { return snSerDrain(s, 100); }, -1},
            {label + " snSerIFlush", [=] { return snSerIFlush(s); }, -1},
            {label + " snSerOFlush", [=] { return snSerOFlush(s); }, -1},
            {label + " snSerBreak", [=] { return snSerBreak(s, 10); }, -1},
            {label + " snSerSetBreak", [=] { return snSerSetBreak(s, 1); }, -1},
            {label + " snSerGetErrFlags", [=]() mutable { return snSerGetErrFlags(s, &flags); },
             -1},
            {label + " snSerClearErrFlags", [=] { return snSerClearErrFlags(s, 1); }, -1},
        };
    }

    std::vector<BadCall> outOfRangeCalls(SnSerial* open) {
        uint16_t w[16] = {};
        return {
            {"slave 0",
             [=, this] { return openSensorNode(sim.devicePath().c_str(), 115200, 0) ? 0 : -1; },
             -1},
            {"slave 248",
             [=, this] { return openSensorNode(sim.devicePath().c_str(), 115200, 248) ? 0 : -1; },
             -1},
            {"no device name", [] { return openSensorNode(nullptr, 115200, 1) ? 0 : -1; }, -1},
            {"empty device name", [] { return openSensorNode("", 115200, 1) ? 0 : -1; }, -1},
            // Slave 2: a new link (slave 1 is open, and reuse never looks at
            // the speed).
            {"unsupported speed",
             [=, this] { return openSensorNode(sim.devicePath().c_str(), 14400, 2) ? 0 : -1; }, -1},
            {"port 3", [=, this] { return snOpenSerial(node, 3) ? 0 : -1; }, -1},
            {"port 65535", [=, this] { return snOpenSerial(node, 65535) ? 0 : -1; }, -1},
            {"timeout 19", [=, this] { return setSensorNodeModbusTimeout(node, 19); }, -1},
            {"no timeout destination",
             [=, this] { return getSensorNodeModbusTimeout(node, nullptr); }, -1},
            {"output 4", [=, this] { return snPower(node, 4, 1); }, -1},
            {"output 65535 status", [=, this] { return snPowerIsOn(node, 65535); }, -1},
            {"channel 8", [=, this]() mutable { return snAnalogChan(node, 8, w); }, -1},
            {"channels 7+2", [=, this]() mutable { return snAnalogChans(node, 7, 2, w); }, -1},
            {"channels wrap", [=, this]() mutable { return snAnalogChans(node, 65535, 1, w); }, -1},
            {"parms 4+5", [=, this] { return snSetAnalogParms(node, 4, 5, w); }, -1},
            {"parms 9+0 read", [=, this]() mutable { return snGetAnalogParms(node, 9, 0, w); }, -1},
            {"no analog buffer", [=, this] { return snAnalogChans(node, 0, 1, nullptr); }, -1},
            {"no parms source", [=, this] { return snSetAnalogParms(node, 0, 1, nullptr); }, -1},
            {"no parms destination", [=, this] { return snGetAnalogParms(node, 0, 1, nullptr); },
             -1},
            {"no channel destination", [=, this] { return snAnalogChan(node, 0, nullptr); }, -1},
            {"no serial destination", [=, this] { return snGetSerialNum(node, nullptr); }, -1},
            {"no revision destination", [=, this] { return snGetSoftwareRev(node, nullptr); }, -1},
            {"no board destination", [=, this] { return snGetBoardConfig(node, nullptr); }, -1},
            {"no hw destination", [=, this] { return snGetHwConfig(node, nullptr); }, -1},
            {"no vector destination", [=, this] { return snGetPowerVector(node, nullptr); }, -1},
            {"no read buffer", [=, this] { return snSerRead(open, nullptr, 8); }, 0},
            {"no write data", [=, this] { return snSerWrite(open, nullptr, 8); }, 0},
            {"no error-flag destination", [=, this] { return snSerGetErrFlags(open, nullptr); },
             -1},
        };
    }

    static void expectRefused(const std::vector<BadCall>& calls) {
        for (const BadCall& c : calls) {
            errno = 0;
            EXPECT_EQ(c.call(), c.refusal) << c.what;
            EXPECT_EQ(errno, EINVAL) << c.what;
        }
    }
};

TEST_F(BadInput, EveryFunctionRefusesWithEinvalAndSendsNothing) {
    SnSerial* open = snOpenSerial(node, 0);
    ASSERT_NE(open, nullptr);
    SensorNode closedNode{};  // never opened: no link
    sim.clearLog();

    expectRefused(nodeCalls(nullptr, "null node"));
    expectRefused(nodeCalls(&closedNode, "closed node"));
    expectRefused(portCalls(nullptr, "null port"));
    expectRefused(portCalls(&node->serial[2], "closed port"));
    expectRefused(outOfRangeCalls(open));

    EXPECT_EQ(snSerRxCount(nullptr), 0);
    EXPECT_EQ(snSerRxCount(&node->serial[2]), 0);
    snModbusSetDebug(nullptr, 1);
    snModbusGetResponseTimeout(nullptr, nullptr);
    snModbusSetResponseTimeout(node, nullptr);
    snModbusGetByteTimeout(&closedNode, nullptr);
    snModbusSetByteTimeout(&closedNode, nullptr);

    EXPECT_TRUE(sim.log().empty());
    EXPECT_EQ(node->refCount, 1);
    EXPECT_EQ(open->refCount, 1);
}

}  // namespace
