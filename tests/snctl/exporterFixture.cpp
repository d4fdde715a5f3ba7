#include "exporterFixture.h"

#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

snsim::Options quietNode() {
    snsim::Options options;
    for (auto& port : options.ports) port.kind = snsim::Attachment::Kind::None;
    return options;
}

}  // namespace

ExporterTest::ExporterTest() : direct(quietNode()) {}

void ExporterTest::SetUp() {
    DaemonTest::SetUp();
    ASSERT_TRUE(direct.start());
}

void ExporterTest::TearDown() {
    if (exporterPort != 0) {
        EXPECT_EQ(exporter.errorsSoFar(), "");
    }
}

void ExporterTest::startExporter() {
    if (port == 0) startDaemon();
    ASSERT_TRUE(exporter.start({SNCTL_PATH, "exporter", "--listen", "127.0.0.1:0", "--target",
                                "direct=" + direct.devicePath(), "--target",
                                "bus=" + tcpName() + ",slave=2"}));
    const std::regex ready("listen: 127\\.0\\.0\\.1:([0-9]+)\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::smatch found;
    std::string out;
    while (!std::regex_search(out = exporter.outputSoFar(), found, ready)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << exporter.errorsSoFar();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    exporterPort = static_cast<uint16_t>(std::stoi(found[1]));
}

bool ExporterTest::exporterRunning() { return exporter.running(); }

sntest::HttpReply ExporterTest::get(const std::string& path, const std::string& headers) const {
    return sntest::parseReply(
        sntest::exchange("127.0.0.1", exporterPort, sntest::request(path, headers)));
}

std::map<std::string, double> ExporterTest::samples(const std::string& page) {
    std::map<std::string, double> found;
    std::istringstream lines(page);
    std::string line;
    while (std::getline(lines, line)) {
        const auto space = line.rfind(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
        found[line.substr(0, space)] = std::stod(line.substr(space + 1));
    }
    return found;
}

std::string ExporterTest::promtoolComplaints(const std::string& page) const {
    const std::string file = dir + "/page.prom";
    std::ofstream(file) << page;
    const auto run = sntest::runProgram({"/bin/sh", "-c", "promtool check metrics < " + file});
    return run.status == 0 ? run.out + run.err
                           : "status " + std::to_string(run.status) + ": " + run.out + run.err;
}

void ExporterTest::pinNode(snsim::Emulator& node, int slave, uint16_t base) {
    node.setReg(15, base, slave);
    node.setReg(16, static_cast<uint16_t>(base + 1), slave);
    node.setReg(17, 0x00AB, slave);
    node.setReg(18, 0xCDEF, slave);
    node.setReg(20, 0x0033, slave);
    node.setReg(19, 0x0005, slave);  // outputs 0 and 2 on
    for (int c = 0; c < 8; ++c) node.setReg(31 + c, static_cast<uint16_t>(base + 10 * c), slave);
}
