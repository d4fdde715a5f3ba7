// The Prometheus text the programs serve: exact lines, escaping, numbers,
// refused names, metrics under threads, and Prometheus' own checker.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "capturedProcess.h"
#include "sncommon/prometheusText.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sncommon::MetricType;
using sncommon::PrometheusText;

TEST(PrometheusText, WritesEscapedCountersGaugesAndCumulativeHistogramsExactly) {
    PrometheusText text;
    sncommon::Counter answered;
    answered.add(3);
    text.family("sn_requests_total", MetricType::Counter, "Requests answered.");
    text.sample({{"path", "/metrics"}, {"code", "200"}}, answered);
    text.sample({{"path", "/probe"}, {"code", "404"}}, 1.0);
    sncommon::Gauge temperature;
    temperature.set(-2.5);
    text.family("sn_temperature_celsius", MetricType::Gauge, "Board \\ temperature\n\"C\".");
    text.sample({}, temperature);
    text.sample({{"sensor", "C:\\dir \"x\"\ny \xc2\xb0"}}, 0.5);
    sncommon::Histogram durations({0.25, 0.5, 1});
    for (double seconds : {0.125, 0.25, 0.375, 2.0}) durations.observe(seconds);
    text.family("sn_duration_seconds", MetricType::Histogram, "Time per transaction.");
    text.sample({{"slave", "1"}}, durations);
    EXPECT_EQ(text.text(),
              "# HELP sn_requests_total Requests answered.\n"
              "# TYPE sn_requests_total counter\n"
              "sn_requests_total{path=\"/metrics\",code=\"200\"} 3\n"
              "sn_requests_total{path=\"/probe\",code=\"404\"} 1\n"
              "# HELP sn_temperature_celsius Board \\\\ temperature\\n\"C\".\n"
              "# TYPE sn_temperature_celsius gauge\n"
              "sn_temperature_celsius -2.5\n"
              "sn_temperature_celsius{sensor=\"C:\\\\dir \\\"x\\\"\\ny \xc2\xb0\"} 0.5\n"
              "# HELP sn_duration_seconds Time per transaction.\n"
              "# TYPE sn_duration_seconds histogram\n"
              "sn_duration_seconds_bucket{slave=\"1\",le=\"0.25\"} 2\n"
              "sn_duration_seconds_bucket{slave=\"1\",le=\"0.5\"} 3\n"
              "sn_duration_seconds_bucket{slave=\"1\",le=\"1\"} 3\n"
              "sn_duration_seconds_bucket{slave=\"1\",le=\"+Inf\"} 4\n"
              "sn_duration_seconds_sum{slave=\"1\"} 2.75\n"
              "sn_duration_seconds_count{slave=\"1\"} 4\n");
}

TEST(PrometheusText, PrintsNumbersAsPrometheusReadsThem) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, std::string>> cases{
        {0.0, "0"},
        {-3.0, "-3"},
        {1e15, "1000000000000000"},
        {std::ldexp(1.0, 62), "4611686018427387904"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {1e-9, "1e-09"},
        {1e19, "1e+19"},
        {inf, "+Inf"},
        {-inf, "-Inf"},
        {std::nan(""), "NaN"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(sncommon::formatMetricValue(value), expected);
    }
    sncommon::Counter huge;
    huge.add(std::numeric_limits<std::uint64_t>::max());
    PrometheusText text;
    text.family("sn_bytes_total", MetricType::Counter, "Bytes.");
    text.sample({}, huge);
    EXPECT_NE(text.text().find("sn_bytes_total 18446744073709551615\n"), std::string::npos);
}

TEST(PrometheusText, RefusesBadNamesAndMisuse) {
    for (const char* bad : {"", "1st", "a-b", "a b", "a.b", "\xc3\xa9"}) {
        EXPECT_FALSE(sncommon::validMetricName(bad)) << bad;
        PrometheusText text;
        EXPECT_THROW(text.family(bad, MetricType::Gauge, "x"), std::invalid_argument) << bad;
    }
    for (const char* good : {"a", "_a", ":a", "sn:rate_5m", "A9"}) {
        EXPECT_TRUE(sncommon::validMetricName(good)) << good;
    }
    for (const char* bad : {"", "1a", "a:b", "__reserved", "a-b"}) {
        EXPECT_FALSE(sncommon::validLabelName(bad)) << bad;
    }
    EXPECT_TRUE(sncommon::validLabelName("_a9"));

    PrometheusText text;
    EXPECT_THROW(text.sample({}, 1.0), std::logic_error);  // no family yet
    text.family("sn_wait_seconds", MetricType::Histogram, "Wait.");
    EXPECT_THROW(text.sample({}, 1.0), std::logic_error);  // a plain sample in a histogram
    const sncommon::Histogram histogram({1});
    EXPECT_THROW(text.sample({{"le", "1"}}, histogram), std::invalid_argument);
    EXPECT_THROW(text.sample({{"a", "1"}, {"a", "2"}}, histogram), std::invalid_argument);
    EXPECT_THROW(text.sample({{"a:b", "1"}}, histogram), std::invalid_argument);
    EXPECT_THROW(text.family("sn_wait_seconds", MetricType::Gauge, "Again."),
                 std::invalid_argument);
    EXPECT_THROW(text.family("sn_wait_seconds_count", MetricType::Counter, "Collides."),
                 std::invalid_argument);
    text.family("sn_up", MetricType::Gauge, "Up.");
    EXPECT_THROW(text.sample({}, histogram), std::logic_error);  // a histogram in a gauge
    text.family("sn_polls_count", MetricType::Counter, "Polls.");
    EXPECT_THROW(text.family("sn_polls", MetricType::Histogram, "Collides."),
                 std::invalid_argument);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THROW(sncommon::Histogram({1, 1}), std::invalid_argument);
    EXPECT_THROW(sncommon::Histogram({2, 1}), std::invalid_argument);
    EXPECT_THROW(sncommon::Histogram({1, inf}), std::invalid_argument);
    EXPECT_THROW(sncommon::Histogram({std::nan("")}), std::invalid_argument);
    const sncommon::Histogram onlyInf({});
    EXPECT_EQ(onlyInf.snapshot().perBucket.size(), 1u);
}

TEST(PrometheusText, MetricsAddUpWhenUpdatedFromManyThreads) {
    sncommon::Counter counter;
    sncommon::Gauge gauge;
    sncommon::Histogram histogram({0.25, 0.5});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                counter.add();
                gauge.add(0.5);
                histogram.observe(0.5);  // on the bound: in its bucket
            }
        });
    }
    for (auto& thread : threads) thread.join();
    histogram.observe(std::nan(""));
    EXPECT_EQ(counter.value(), 40000u);
    EXPECT_EQ(gauge.value(), 20000.0);
    const auto snapshot = histogram.snapshot();
    EXPECT_EQ(snapshot.perBucket, (std::vector<std::uint64_t>{0, 40000, 0}));
    EXPECT_EQ(snapshot.count, 40000u);
    EXPECT_EQ(snapshot.sum, 20000.0);
}

// `promtool check metrics` with `page` on its standard input.
sntest::RunResult promtool(const std::string& page) {
    const fs::path file = fs::temp_directory_path() / ("sn-page-" + std::to_string(getpid()));
    std::ofstream(file) << page;
    auto result =
        sntest::runProgram({"/bin/sh", "-c", "exec promtool check metrics < " + file.string()});
    fs::remove(file);
    return result;
}

TEST(PrometheusText, PromtoolAcceptsAPageWithEveryKindWithoutComplaint) {
    PrometheusText text;
    sncommon::Counter transactions;
    transactions.add(12);
    text.family("sn_transactions_total", MetricType::Counter, "Transactions, by outcome.");
    text.sample({{"slave", "1"}, {"outcome", "ok"}}, transactions);
    text.sample({{"slave", "2"}, {"outcome", "timeout"}}, 0.0);
    text.family("sn_line_up", MetricType::Gauge, "1 while the line is open.");
    text.sample({{"device", "C:\\ports \"com1\"\nsecond line"}}, 1.0);
    text.family("sn_temperature_celsius", MetricType::Gauge, "Board temperature, \\ and\nmore.");
    text.sample({}, -std::numeric_limits<double>::infinity());
    text.sample({{"sensor", "none"}}, std::nan(""));
    sncommon::Histogram durations(sncommon::Histogram::secondsBuckets());
    for (double seconds : {0.0005, 0.004, 0.02, 0.7, 30.0}) durations.observe(seconds);
    text.family("sn_transaction_duration_seconds", MetricType::Histogram, "Transaction time.");
    text.sample({{"slave", "1"}}, durations);
    text.sample({{"slave", "2"}}, sncommon::Histogram({0.5}));
    text.family("sn_build_info", MetricType::Untyped, "The build.");
    text.sample({{"version", "0.1.0"}}, 1.0);

    const auto checked = promtool(text.text());
    EXPECT_EQ(checked.status, 0) << "promtool missing or failed:\n" << checked.err;
    EXPECT_EQ(checked.err, "") << text.text();
    EXPECT_EQ(checked.out, "");

    // The check itself finds faults: a counter without _total and no help.
    const auto lint = promtool("# TYPE sn_things counter\nsn_things 1\n");
    EXPECT_NE(lint.status, 0);
    EXPECT_NE(lint.err.find("_total"), std::string::npos) << lint.err;
}

}  // namespace
