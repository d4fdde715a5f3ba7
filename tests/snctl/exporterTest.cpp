// snctl exporter between Prometheus-style scrapes and two nodes, one direct
// and one through snbusd: what a probe shows and sends to the node, what
// it refuses, a silent node, hostile requests; and scan through the daemon.
#include "exporterFixture.h"

#include <atomic>
#include <thread>

namespace {

using Samples = std::map<std::string, double>;
using sntest::HttpReply;

// Function, address and quantity of each request the node saw.
std::vector<std::vector<int>> requestsOf(const std::vector<snsim::Transaction>& log) {
    std::vector<std::vector<int>> requests;
    for (const auto& t : log) requests.push_back({t.function, t.address, t.quantity});
    return requests;
}

Samples withoutDuration(Samples samples) {
    samples.erase("sn_probe_duration_seconds");
    return samples;
}

// What the probe page of a node pinned by pinNode(base) shows.
Samples pinnedPage(uint16_t base, double deviceTimeout) {
    char revision[16];
    std::snprintf(revision, sizeof revision, "0x%04x", base + 1);
    Samples page{
        {"sn_up", 1},
        {"sn_node_info{serial_number=\"" + std::to_string(base) + "\",software_revision=\"" +
             revision + "\",board_config=\"0x00abcdef\",hardware_config=\"0x0033\"}",
         1},
        {"sn_power_vector", 5},
        {"sn_device_timeout", deviceTimeout}};
    for (int c = 0; c < 8; ++c)
        page["sn_analog_value{channel=\"" + std::to_string(c) + "\"}"] = base + 10 * c;
    for (int o = 0; o < 4; ++o)
        page["sn_power_output_on{output=\"" + std::to_string(o) + "\"}"] = o % 2 == 0 ? 1 : 0;
    return page;
}

TEST_F(ExporterTest, ProbeShowsEveryReadingAndOnlyReadsAnOpenNode) {
    pinNode(direct, 1, 4711);
    pinNode(sim, 2, 5000);
    startExporter();
    HttpReply first = probe("direct");
    ASSERT_EQ(first.status, 200u) << first.body;
    EXPECT_NE(first.head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    EXPECT_EQ(withoutDuration(samples(first.body)), pinnedPage(4711, 200)) << first.body;
    EXPECT_EQ(promtoolComplaints(first.body), "");

    // The node stays open: the next probe sees a value written meanwhile
    // (no open writes 200 over it) and sends reads only.
    direct.setReg(21, 345);
    direct.clearLog();
    const HttpReply second = probe("direct");
    EXPECT_EQ(withoutDuration(samples(second.body)), pinnedPage(4711, 345)) << second.body;
    EXPECT_EQ(requestsOf(direct.log()), (std::vector<std::vector<int>>{{3, 15, 1},
                                                                       {3, 16, 1},
                                                                       {3, 17, 2},
                                                                       {3, 20, 1},
                                                                       {3, 19, 1},
                                                                       {3, 21, 1},
                                                                       {3, 31, 8},
                                                                       {1, 0, 1},
                                                                       {1, 1, 1},
                                                                       {1, 2, 1},
                                                                       {1, 3, 1}}));
    const double seconds = samples(second.body)["sn_probe_duration_seconds"];
    EXPECT_GT(seconds, 0);
    EXPECT_LT(seconds, 10);

    const HttpReply bus = probe("bus");
    EXPECT_EQ(withoutDuration(samples(bus.body)), pinnedPage(5000, 200)) << bus.body;
    EXPECT_EQ(sim.reg(21, 1), 100) << "slave 1 behind the daemon is no target";

    const HttpReply metrics = get("/metrics");
    ASSERT_EQ(metrics.status, 200u);
    EXPECT_EQ(promtoolComplaints(metrics.body), "");
    const Samples own = samples(metrics.body);
    EXPECT_EQ(own.at("sn_exporter_probes_total{target=\"direct\"}"), 2);
    EXPECT_EQ(own.at("sn_exporter_probes_total{target=\"bus\"}"), 1);
    EXPECT_EQ(own.at("sn_exporter_probe_duration_seconds_count{target=\"direct\"}"), 2);
    EXPECT_EQ(own.at("sn_exporter_probe_failures_total{target=\"direct\",kind=\"timeout\"}"), 0);
}

TEST_F(ExporterTest, OnlyConfiguredTargetsAreProbedAndOthersOpenNothing) {
    startExporter();
    sim.clearLog();
    for (const std::string& target : {direct.devicePath(), tcpName(), std::string("DIRECT"),
                                      std::string("direct,slave=2"), std::string("")}) {
        EXPECT_EQ(probe(target).status, 400u) << target;
    }
    EXPECT_EQ(get("/probe").status, 400u);
    EXPECT_EQ(get("/probe?other=direct").status, 400u);
    EXPECT_EQ(get("/nothing").status, 404u);
    EXPECT_TRUE(direct.log().empty()) << "a refused request opened the node";
    EXPECT_TRUE(sim.log().empty());

    // The first "target" counts; a later one cannot smuggle a device in.
    EXPECT_EQ(get("/probe?target=" + direct.devicePath() + "&target=direct").status, 400u);
    EXPECT_EQ(probe("direct&target=" + direct.devicePath()).status, 200u);

    const Samples own = samples(get("/metrics").body);
    EXPECT_EQ(own.at("sn_exporter_refused_requests_total{reason=\"unknown_target\"}"), 6);
    EXPECT_EQ(own.at("sn_exporter_refused_requests_total{reason=\"no_target\"}"), 2);
    EXPECT_EQ(own.at("sn_exporter_refused_requests_total{reason=\"not_found\"}"), 1);
}

TEST_F(ExporterTest, SilentNodeGivesUpZeroWithinTheScrapeTimeout) {
    direct.setFault(snsim::Fault::NoAnswer);  // even the open's write goes unanswered
    startExporter();
    const HttpReply first = probe("direct", "X-Prometheus-Scrape-Timeout-Seconds: 0.5\r\n");
    ASSERT_EQ(first.status, 200u);
    Samples page = samples(first.body);
    EXPECT_EQ(page.size(), 2u) << first.body;
    EXPECT_EQ(page["sn_up"], 0);
    EXPECT_LT(page["sn_probe_duration_seconds"], 0.5) << "answered after Prometheus gave up";

    // Without a header Prometheus's own default of 10 s holds; eleven reads
    // each waiting out the link's timeout would take over 6 s.
    page = samples(probe("direct").body);
    EXPECT_EQ(page["sn_up"], 0);
    EXPECT_LT(page["sn_probe_duration_seconds"], 2.0);

    direct.setFault(snsim::Fault::None);
    pinNode(direct, 1, 300);
    direct.setReg(21, 250);
    EXPECT_EQ(withoutDuration(samples(probe("direct").body)), pinnedPage(300, 250));
    const Samples own = samples(get("/metrics").body);
    EXPECT_EQ(own.at("sn_exporter_probe_failures_total{target=\"direct\",kind=\"deadline\"}"), 1);
    EXPECT_EQ(own.at("sn_exporter_probe_failures_total{target=\"direct\",kind=\"timeout\"}"), 1);
}

TEST_F(ExporterTest, HostileRequestsAreAnsweredOrRefusedAndServingGoesOn) {
    pinNode(direct, 1, 1000);
    pinNode(sim, 2, 2000);
    startExporter();
    for (const std::string& raw :
         {std::string("GARBAGE\r\n\r\n"), std::string("GET /probe?target=direct HTTP/9.9\r\n\r\n"),
          std::string("GET\r\n\r\n"), std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc", 9),
          sntest::request("/probe?target=" + std::string(100 * 1024, 'd'))}) {
        const std::string reply = sntest::exchange("127.0.0.1", exporterPort, raw, true);
        const unsigned status = sntest::parseReply(reply).status;
        EXPECT_TRUE(reply.empty() || status >= 400) << reply.substr(0, 200);
    }
    EXPECT_TRUE(direct.log().empty());

    // 50 scrapes at once, of both targets: each is answered or refused, and
    // every answer is its own target's.
    std::atomic<int> answered{0}, mixedUp{0};
    std::vector<std::thread> scrapers;
    for (int i = 0; i < 50; ++i) {
        scrapers.emplace_back([&, i] {
            const bool viaBus = i % 2 == 1;
            const HttpReply reply = probe(viaBus ? "bus" : "direct");
            if (reply.status == 0) return;
            Samples page = samples(reply.body);
            if (reply.status != 200 || !page.contains("sn_up")) ++mixedUp;
            if (page["sn_up"] == 1 &&
                withoutDuration(page) != pinnedPage(viaBus ? 2000 : 1000, 200))
                ++mixedUp;
            ++answered;
        });
    }
    for (auto& scraper : scrapers) scraper.join();
    EXPECT_GT(answered.load(), 0);
    EXPECT_EQ(mixedUp.load(), 0);
    ASSERT_TRUE(exporterRunning());
    // The refused ones' connections may take a moment to be let go.
    HttpReply last;
    for (int i = 0; i < 50 && last.status == 0; ++i) {
        last = probe("direct");
        if (last.status == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(samples(last.body)["sn_up"], 1) << last.body;
    EXPECT_EQ(samples(probe("bus").body)["sn_up"], 1);
}

TEST_F(ExporterTest, ScanThroughTheDaemonListsTheNodesThatAnswer) {
    startDaemon({"--units", "1-3"});  // 4 and 5 refused by the daemon, 3 silent on the line
    sim.setReg(15, 811, 1);
    sim.setReg(16, 0x0104, 1);
    sim.setReg(15, 822, 2);
    sim.setReg(16, 0x0105, 2);
    const auto run = sntest::runProgram(
        {SNCTL_PATH, "-p", tcpName(), "--json", "scan", "--slaves", "1-5", "--timeout", "50"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"nodes\":[{\"slave\":1,\"serial_number\":811,\"software_revision\":260},"
              "{\"slave\":2,\"serial_number\":822,\"software_revision\":261}]}\n");
    EXPECT_EQ(run.err, "");
}

}  // namespace
