// The exporter's and scan's own arguments, what a probe request may name,
// and how a probe's time is cut up; no device needed.
#include "exporterOptions.h"
#include "failure.h"
#include "nodeProbe.h"
#include "probeRequest.h"
#include "scanOptions.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using std::chrono::microseconds;

TEST(ExporterOptions, TargetsWithTheirDefaultsAndEveryRefusal) {
    const auto plain = snctl::parseProbeTarget("node-a=/dev/ttyUSB0");
    EXPECT_EQ(plain.name, "node-a");
    EXPECT_EQ(plain.device, "/dev/ttyUSB0");
    EXPECT_EQ(plain.slave, 1);
    EXPECT_EQ(plain.baud, 115200);
    const auto full = snctl::parseProbeTarget("b.2_x=COM2,baud=9600,slave=247");
    EXPECT_EQ(full.device, "/dev/ttyS1");
    EXPECT_EQ(full.slave, 247);
    EXPECT_EQ(full.baud, 9600);
    EXPECT_EQ(snctl::parseProbeTarget("n=tcp:[::1]:1502,slave=7").device, "tcp:[::1]:1502");
    for (const std::string& bad :
         std::vector<std::string>{"", "=/dev/x", "a", "a=", "a b=/dev/x", "a/b=/dev/x",
                                  "a=/dev/x,slave=0", "a=/dev/x,slave=248", "a=/dev/x,baud=12345",
                                  "a=/dev/x,parity=E", "a=/dev/x,slave", "a=/dev/x,", "a=tcp:host",
                                  "a=tcp:host:0", "a=COM0", std::string(65, 'n') + "=/dev/x"}) {
        EXPECT_THROW(snctl::parseProbeTarget(bad), snctl::UsageError) << bad;
    }

    const auto options = snctl::parseExporterOptions({"--target=a=/dev/x", "--target", "b=/dev/y"});
    EXPECT_EQ(options.listen, "127.0.0.1:9740");
    ASSERT_EQ(options.targets.size(), 2u);
    EXPECT_EQ(options.targets[1].name, "b");
    EXPECT_EQ(snctl::parseExporterOptions({"--listen", "[::1]:0", "--target", "a=/x"}).listen,
              "[::1]:0");
    std::vector<std::string> seventeen;
    for (int i = 0; i < 17; ++i)
        seventeen.push_back("--target=n" + std::to_string(i) + "=/x" +
                            ",slave=" + std::to_string(i + 1));
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{},
                                               {"--listen", "127.0.0.1:1"},
                                               {"--target", "a=/x", "--target", "a=/y"},
                                               {"--target", "a=/x", "--target", "b=/x,slave=1"},
                                               {"--target", "a=/x", "--listen", "nohost"},
                                               {"--target", "a=/x", "--bogus", "1"},
                                               {"--target"},
                                               seventeen}) {
        EXPECT_THROW(snctl::parseExporterOptions(bad), snctl::UsageError) << bad.size();
    }
    seventeen.pop_back();
    EXPECT_EQ(snctl::parseExporterOptions(seventeen).targets.size(), 16u);
}

TEST(ScanOptions, SlaveListsAndTheDefaultOfEveryAddress) {
    EXPECT_EQ(snctl::parseSlaveList("1,5,10-12"), (std::vector<int>{1, 5, 10, 11, 12}));
    EXPECT_EQ(snctl::parseSlaveList("3,1-3,2"), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(snctl::parseSlaveList("247"), std::vector<int>{247});
    for (const char* bad : {"", "0", "248", "5-3", "1,,2", "1-", "-3", "1-2-3", "a", "1;2"})
        EXPECT_THROW(snctl::parseSlaveList(bad), snctl::UsageError) << bad;
    const auto defaults = snctl::parseScanOptions({});
    ASSERT_EQ(defaults.slaves.size(), 247u);
    EXPECT_EQ(defaults.slaves.front(), 1);
    EXPECT_EQ(defaults.slaves.back(), 247);
    EXPECT_EQ(defaults.timeout, 100ms);
    EXPECT_EQ(snctl::parseScanOptions({"--timeout=20", "--slaves", "9"}).timeout, 20ms);
    EXPECT_THROW(snctl::parseScanOptions({"--timeout", "0"}), snctl::UsageError);
    EXPECT_THROW(snctl::parseScanOptions({"7"}), snctl::UsageError);
}

sncommon::HttpRequest probeFor(std::vector<sncommon::HttpField> query, std::string timeout = "") {
    sncommon::HttpRequest request;
    request.method = "GET";
    request.path = "/probe";
    request.query = std::move(query);
    if (!timeout.empty())
        request.headers.push_back({"x-prometheus-scrape-timeout-seconds", timeout});
    return request;
}

TEST(ProbeRequest, OnlyAConfiguredNameIsProbedWithinPrometheusTimeout) {
    const std::vector<std::string> names{"node-a", "node-b"};
    using Outcome = snctl::ProbeRoute::Outcome;
    auto route = snctl::routeProbe(probeFor({{"target", "node-b"}}, "1.9"), names);
    EXPECT_EQ(route.outcome, Outcome::Probe);
    EXPECT_EQ(route.target, 1u);
    EXPECT_EQ(route.budget, 1650ms);
    route = snctl::routeProbe(probeFor({{"target", "node-a"}, {"target", "/dev/ttyS0"}}), names);
    EXPECT_EQ(route.target, 0u);
    EXPECT_EQ(route.budget, 9750ms) << "Prometheus's default timeout without the header";
    EXPECT_EQ(snctl::routeProbe(probeFor({}), names).outcome, Outcome::NoTarget);
    for (const char* other : {"", "node-", "Node-a", "node-a ", "/dev/ttyS0", "node-a,slave=2"})
        EXPECT_EQ(snctl::routeProbe(probeFor({{"target", other}}), names).outcome,
                  Outcome::UnknownTarget)
            << other;

    EXPECT_EQ(snctl::parseScrapeTimeout("0.9"), 0.9);
    EXPECT_EQ(snctl::parseScrapeTimeout(" 10 "), 10.0);
    for (const char* bad : {"", "0", "-1", "nan", "inf", "1s", "1e999", "0x10", "1,5"})
        EXPECT_FALSE(snctl::parseScrapeTimeout(bad)) << bad;
    EXPECT_EQ(snctl::probeBudget(0.4), 300ms);
    EXPECT_EQ(snctl::probeBudget(1e9), 599750ms);
}

TEST(ProbeTimeouts, EachReadGetsItsShareOfWhatIsLeftAndNoMoreThanTheLink) {
    const snctl::LinkTimeouts own{600ms, 50ms};
    // 1.65 s for 11 reads with 100 ms for one failure's recovery aside.
    EXPECT_EQ(snctl::readTimeout(1650ms, 11, own), microseconds(140909));
    EXPECT_EQ(snctl::readTimeout(9750ms, 11, own), 600ms);
    EXPECT_EQ(snctl::readTimeout(300ms, 1, own), 200ms);
    EXPECT_FALSE(snctl::readTimeout(120ms, 11, own));
    EXPECT_FALSE(snctl::readTimeout(-5ms, 3, own));
    EXPECT_FALSE(snctl::readTimeout(1s, 0, own));
}

}  // namespace
