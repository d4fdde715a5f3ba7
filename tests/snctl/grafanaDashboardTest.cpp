// The documented Grafana dashboard against a real exporter: every metric
// and label its queries name is one the exporter serves (at /probe or at
// /metrics), or one Prometheus adds; its jobs are the documented scrape
// configuration's, and every panel takes the data source an import asks for.
#include "exporterFixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

using nlohmann::json;

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a query names: metrics, labels (in matchers and in by/without/on
// lists) and the values it matches `job` against.
struct Names {
    std::set<std::string> metrics, labels, jobs;
};

bool isKeyword(const std::string& word) {
    static const std::set<std::string> words{
        "by", "without", "on",   "ignoring", "group_left", "group_right", "and",
        "or", "unless",  "bool", "offset",   "inf",        "nan"};
    return words.count(word) != 0;
}

Names namesIn(std::string query) {
    Names names;
    // Grafana's variables are not PromQL; durations in brackets are no names.
    query = std::regex_replace(query, std::regex(R"(\$\{?\w+\}?)"), "");
    query = std::regex_replace(query, std::regex(R"(\[[^\]]*\])"), "");
    // Grafana's label_values(SELECTOR, LABEL) of a variable.
    const std::regex labelValues(R"(label_values\(\s*([^,]+),\s*(\w+)\s*\))");
    std::smatch values;
    if (std::regex_search(query, values, labelValues)) {
        names.labels.insert(values[2]);
        query = values[1];
    }
    const std::regex matcher(R"rx((\w+)\s*(=~|!~|!=|=)\s*"([^"]*)")rx");
    const std::regex selector(R"(\{([^}]*)\})");
    for (std::sregex_iterator s(query.begin(), query.end(), selector), end; s != end; ++s) {
        const std::string inside = (*s)[1];
        for (std::sregex_iterator m(inside.begin(), inside.end(), matcher); m != end; ++m) {
            names.labels.insert((*m)[1]);
            if ((*m)[1] == "job") names.jobs.insert((*m)[3]);
        }
    }
    query = std::regex_replace(query, selector, " ");
    const std::regex grouping(R"(\b(by|without|on|ignoring|group_left|group_right)\s*\(([^)]*)\))");
    for (std::sregex_iterator g(query.begin(), query.end(), grouping), end; g != end; ++g) {
        const std::string list = (*g)[2];
        const std::regex label(R"(\w+)");
        for (std::sregex_iterator l(list.begin(), list.end(), label); l != end; ++l)
            names.labels.insert(l->str());
    }
    query = std::regex_replace(query, grouping, " ");
    // What is left: functions (a name before a parenthesis), numbers,
    // keywords and metric names.
    const std::regex word(R"(([A-Za-z_:][\w:]*)(\s*\()?)");
    for (std::sregex_iterator w(query.begin(), query.end(), word), end; w != end; ++w) {
        if ((*w)[2].matched || isKeyword((*w)[1])) continue;
        names.metrics.insert((*w)[1]);
    }
    return names;
}

class GrafanaDashboardTest : public ExporterTest {
protected:
    // Metric names and label names on a served page.
    static void served(const std::string& page, std::set<std::string>& metrics,
                       std::set<std::string>& labels) {
        const std::regex label(R"rx((\w+)=")rx");
        for (const auto& [sample, value] : samples(page)) {
            metrics.insert(sample.substr(0, sample.find('{')));
            for (std::sregex_iterator l(sample.begin(), sample.end(), label), end; l != end; ++l)
                labels.insert((*l)[1]);
        }
    }

    // Every PromQL query of the dashboard: its panels' and its variables'.
    static std::vector<std::string> queries(const json& dashboard) {
        std::vector<std::string> found;
        for (const json& panel : dashboard.at("panels"))
            for (const json& target : panel.at("targets")) found.push_back(target.at("expr"));
        for (const json& variable : dashboard.at("templating").at("list")) {
            const json& query = variable.at("query");
            found.push_back(query.is_object() ? query.at("query").get<std::string>()
                                              : query.get<std::string>());
        }
        return found;
    }
};

TEST_F(GrafanaDashboardTest, EveryQueryNamesWhatTheExporterServes) {
    pinNode(direct, 1, 1000);
    startExporter();
    std::set<std::string> metrics, labels{"instance", "job"};  // Prometheus adds these
    const sntest::HttpReply probed = probe("direct");
    ASSERT_EQ(probed.status, 200u) << probed.body;
    ASSERT_NE(probed.body.find("sn_up 1"), std::string::npos) << probed.body;
    served(probed.body, metrics, labels);
    const sntest::HttpReply own = get("/metrics");
    ASSERT_EQ(own.status, 200u) << own.body;
    served(own.body, metrics, labels);

    const json dashboard = json::parse(readText(TELEMETRY_DOCS "/grafana-dashboard.json"));
    const std::string scrapeConfig = readText(TELEMETRY_DOCS "/telemetry-prometheus.yml");
    std::set<std::string> named;
    for (const std::string& query : queries(dashboard)) {
        const Names names = namesIn(query);
        EXPECT_FALSE(names.metrics.empty()) << query;
        for (const std::string& metric : names.metrics) {
            EXPECT_EQ(metrics.count(metric), 1u) << metric << " in " << query;
            named.insert(metric);
        }
        for (const std::string& label : names.labels)
            EXPECT_EQ(labels.count(label), 1u) << "label " << label << " in " << query;
        for (const std::string& job : names.jobs)
            EXPECT_NE(scrapeConfig.find("job_name: " + job + "\n"), std::string::npos)
                << "job " << job << " in " << query;
    }
    // What a user opens it for: the nodes' state and readings, and the
    // exporter's own failures.
    for (const char* metric : {"sn_up", "sn_analog_value", "sn_power_output_on", "sn_node_info",
                               "sn_exporter_probe_failures_total"})
        EXPECT_EQ(named.count(metric), 1u) << metric << " is on no panel";

    // Importable: each panel's data source is the one the import asks for.
    ASSERT_EQ(dashboard.at("__inputs").size(), 1u);
    const std::string input = "${" + dashboard["__inputs"][0].at("name").get<std::string>() + "}";
    for (const json& panel : dashboard.at("panels")) {
        EXPECT_EQ(panel.at("datasource").at("uid"), input) << panel.at("title");
        for (const json& target : panel.at("targets"))
            EXPECT_EQ(target.at("datasource").at("uid"), input) << panel.at("title");
    }
}

// The reading of queries itself, on names a wrong dashboard would carry.
TEST(GrafanaQueryNames, MetricsLabelsAndJobsAreTold) {
    const Names names = namesIn(
        R"(histogram_quantile(0.9, sum by (target, le) (rate(sn_x_bucket{job="a", instance=~"$node"}[$__rate_interval]))) > 0 or sn_up)");
    EXPECT_EQ(names.metrics, (std::set<std::string>{"sn_x_bucket", "sn_up"}));
    EXPECT_EQ(names.labels, (std::set<std::string>{"target", "le", "job", "instance"}));
    EXPECT_EQ(names.jobs, (std::set<std::string>{"a"}));
    const Names variable = namesIn("label_values(sn_up, instance)");
    EXPECT_EQ(variable.metrics, (std::set<std::string>{"sn_up"}));
    EXPECT_EQ(variable.labels, (std::set<std::string>{"instance"}));
}

}  // namespace
