// A real browser (headless Chromium through Selenium, browser_check.py)
// on snweb in front of snbusd and two emulated nodes: the script works the
// pages, and the emulator's log says what reached the node.
#include "snwebFixture.h"

#include <unistd.h>

#include <iostream>

namespace {

std::string joined(const uint16_t* values, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(values[i]);
    return text;
}

// A shell behind port 0, an instrument of the test's on port 1.
class SnwebBrowserTest : public SnwebTest {
protected:
    SnwebBrowserTest()
        : SnwebTest([this](snsim::Options& o) {
              o.ports[0].kind = snsim::Attachment::Kind::Exec;
              o.ports[0].command = "PS1='$ ' exec /bin/sh -i";
              o.ports[1].kind = snsim::Attachment::Kind::Pty;
              o.ports[1].linkPath = dir + "/instrument1";  // dir: made before the node
              o.rxFifoSize = 128 * 1024;  // a slowed (sanitized) relay never overruns it
              // Outputs 0 and 1 on by register 19, never by their coils: a
              // page that reads outputs off the power vector is caught.
              o.powerVector = 0x0003;
          }),
          instrument(dir + "/instrument1") {}
    std::string instrument;
};

TEST_F(SnwebBrowserTest, ARealBrowserSeesTheNodesSwitchesAnOutputAndTypesIntoAPort) {
    if (access("/usr/bin/chromium", X_OK) != 0 || access("/usr/bin/chromedriver", X_OK) != 0)
        GTEST_SKIP() << "needs Debian's chromium and chromium-driver";
    startWeb();
    const auto run =
        sntest::runProgram({"/usr/bin/python3", BROWSER_SCRIPT, url(), SNCTL_PATH, tcpName(),
                            SCREENSHOT_DIR, joined(kSerial, 2), joined(kAnalog, 8), instrument},
                           std::chrono::seconds(100));
    std::cout << run.out;  // the steps with their times, for the log
    EXPECT_EQ(run.status, 0) << run.out << run.err << "snweb:\n" << web.errorsSoFar();
    EXPECT_NE(run.out.find("PASSED"), std::string::npos) << run.out << run.err;

    // The click reached the node as one write of coil 3 on, to slave 1 only.
    const auto writes = powerWrites(1);
    const auto coil3 = std::find_if(writes.begin(), writes.end(), [](const snsim::Transaction& t) {
        return t.function == 5 && t.address == 3 && !t.values.empty() && t.values[0] == 1;
    });
    EXPECT_NE(coil3, writes.end());
    EXPECT_TRUE(sim.coil(3, 1));
    EXPECT_TRUE(sim.coil(2, 1));
    EXPECT_TRUE(powerWrites(2).empty());
    EXPECT_NE(web.errorsSoFar().find("node alpha: power 3 on"), std::string::npos);
    EXPECT_NE(web.errorsSoFar().find("node alpha: terminal on port 0 opened"), std::string::npos);
    EXPECT_NE(web.errorsSoFar().find("node alpha: terminal on port 0 closed"), std::string::npos);
}

}  // namespace
