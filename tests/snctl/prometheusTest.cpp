// A real Prometheus, with the documented scrape configuration and alerting
// rules, scraping the exporter's two targets every 2 s: it sees each node
// up with its analog values, one channel out of range, and both nodes
// going silent.
#include "exporterFixture.h"
#include "freePort.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Replaces every `from`; fails the test when there is none, so the
// documented file cannot drift away from what is tested.
void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from << " is gone from the documented configuration";
    for (; at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

class PrometheusTest : public ExporterTest {
protected:
    // The documented configuration, pointed at this exporter and its
    // target names, scraping every 2 s with a timeout of 1.9 s.
    std::string writeConfig() {
        std::string config = readText(TELEMETRY_DOCS "/telemetry-prometheus.yml");
        replaceAll(config, "scrape_interval: 15s", "scrape_interval: 2s");
        replaceAll(config, "evaluation_interval: 15s", "evaluation_interval: 2s");
        replaceAll(config, "scrape_timeout: 10s", "scrape_timeout: 1900ms");
        replaceAll(config, "[node-a, node-b]", "[direct, bus]");
        replaceAll(config, "127.0.0.1:9740", "127.0.0.1:" + std::to_string(exporterPort));
        replaceAll(config, "- telemetry-rules.yml", "- " TELEMETRY_DOCS "/telemetry-rules.yml");
        const std::string path = dir + "/prometheus.yml";
        std::ofstream(path) << config;
        return path;
    }

    void startPrometheus(const std::string& config) {
        webPort = sntest::freeLoopbackPort();
        ASSERT_TRUE(
            prometheus.start({"/usr/bin/prometheus", "--config.file=" + config,
                              "--storage.tsdb.path=" + dir + "/tsdb",
                              "--web.listen-address=127.0.0.1:" + std::to_string(webPort)}));
        ASSERT_TRUE(eventually([&] { return web("/-/ready").status == 200; }, 30s))
            << prometheus.errorsSoFar();
    }

    sntest::HttpReply web(const std::string& path) const {
        return sntest::parseReply(sntest::exchange("127.0.0.1", webPort, sntest::request(path)));
    }

    // What Prometheus's HTTP API answers at /api/v1/WHAT (with a query).
    std::string api(const std::string& what, const std::string& expression = "") const {
        std::vector<std::string> curl{"/usr/bin/curl", "-s", "-G"};
        if (!expression.empty()) {
            curl.push_back("--data-urlencode");
            curl.push_back("query=" + expression);
        }
        curl.push_back("http://127.0.0.1:" + std::to_string(webPort) + "/api/v1/" + what);
        return sntest::runProgram(curl).out;
    }

    // A query's result: "instance/channel" (channel empty when none) to value.
    std::map<std::string, std::string> query(const std::string& expression) const {
        std::map<std::string, std::string> values;
        const json answer = json::parse(api("query", expression), nullptr, false);
        if (!answer.is_object() || answer.value("status", "") != "success") return values;
        for (const json& series : answer["data"]["result"]) {
            const json& labels = series["metric"];
            values[labels.value("instance", "") + "/" + labels.value("channel", "")] =
                series["value"][1].get<std::string>();
        }
        return values;
    }

    // Alerts by name, "instance/channel" and state.
    std::set<std::string> alerts() const {
        std::set<std::string> found;
        const json answer = json::parse(api("alerts"), nullptr, false);
        if (!answer.is_object()) return found;
        for (const json& alert : answer["data"]["alerts"]) {
            const json& labels = alert["labels"];
            found.insert(labels.value("alertname", "") + " " + labels.value("instance", "") + "/" +
                         labels.value("channel", "") + " " + alert.value("state", ""));
        }
        return found;
    }

    static bool eventually(const std::function<bool()>& condition,
                           std::chrono::seconds timeout = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(200ms);
        }
        return true;
    }

    sntest::CapturedProcess prometheus;
    uint16_t webPort = 0;
};

TEST_F(PrometheusTest, ScrapesBothNodesAndAlertsOnARangeAndOnSilence) {
    pinNode(direct, 1, 1000);
    pinNode(sim, 2, 2000);
    direct.setReg(31 + 5, 4000);  // out of the documented range
    startExporter();
    const std::string config = writeConfig();
    for (const std::vector<std::string>& check :
         {std::vector<std::string>{"config", config},
          std::vector<std::string>{"rules", TELEMETRY_DOCS "/telemetry-rules.yml"}}) {
        const auto checked = sntest::runProgram({"/usr/bin/promtool", "check", check[0], check[1]});
        ASSERT_EQ(checked.status, 0) << checked.out << checked.err;
    }
    startPrometheus(config);

    const std::map<std::string, std::string> up{{"bus/", "1"}, {"direct/", "1"}};
    EXPECT_TRUE(eventually([&] { return query("sn_up") == up; })) << api("targets");
    std::map<std::string, std::string> analog;
    for (int c = 0; c < 8; ++c) {
        const std::string channel = std::to_string(c);
        analog["direct/" + channel] = c == 5 ? "4000" : std::to_string(1000 + 10 * c);
        analog["bus/" + channel] = std::to_string(2000 + 10 * c);
    }
    EXPECT_EQ(query("sn_analog_value"), analog);
    EXPECT_TRUE(eventually([&] {
        return alerts() == std::set<std::string>{"AnalogChannelOutOfRange direct/5 pending"};
    })) << api("alerts");

    direct.stop();
    sim.stop();
    const std::map<std::string, std::string> down{{"bus/", "0"}, {"direct/", "0"}};
    EXPECT_TRUE(eventually([&] { return query("sn_up") == down; })) << query("sn_up").size();
    EXPECT_TRUE(eventually([&] {
        const auto now = alerts();
        return now.contains("SensorNodeDown direct/ pending") &&
               now.contains("SensorNodeDown bus/ pending");
    })) << api("alerts");
    // The exporter's own job is scraped too, and says why the probes failed.
    EXPECT_EQ(query("up{job=\"sn-exporter\"}"),
              (std::map<std::string, std::string>{
                  {"127.0.0.1:" + std::to_string(exporterPort) + "/", "1"}}));
}

}  // namespace
