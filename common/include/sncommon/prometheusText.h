// The Prometheus text exposition format (0.0.4), written family by family:
// a HELP and a TYPE line, then the family's samples.  Names are checked as
// they come (std::invalid_argument), so a bad one shows at the first
// scrape instead of as a page Prometheus refuses.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sncommon/prometheusMetrics.h"

namespace sncommon {

inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";

enum class MetricType { Counter, Gauge, Histogram, Untyped };

struct MetricLabel {
    std::string name;
    std::string value;
};
using MetricLabels = std::vector<MetricLabel>;

bool validMetricName(std::string_view name);  // [a-zA-Z_:][a-zA-Z0-9_:]*
// [a-zA-Z_][a-zA-Z0-9_]*, and not starting "__" (Prometheus keeps those).
bool validLabelName(std::string_view name);

// Numbers as Prometheus reads them: whole values without an exponent,
// others in the shortest form that reads back the same, "+Inf", "-Inf",
// "NaN".
std::string formatMetricValue(double value);
std::string escapeLabelValue(std::string_view value);  // backslash, quote, newline
std::string escapeHelp(std::string_view help);         // backslash, newline

class PrometheusText {
public:
    // Starts a family; its samples follow.  A name written before, or one a
    // histogram's own series would collide with, is refused too.
    void family(std::string_view name, MetricType type, std::string_view help);

    // A sample of the current family (not a histogram's).
    void sample(const MetricLabels& labels, double value);
    void sample(const MetricLabels& labels, const Counter& counter);
    void sample(const MetricLabels& labels, const Gauge& gauge);
    // The series of a histogram family: cumulative _bucket lines up to
    // le="+Inf", then _sum and _count.  "le" is not a label of its own then.
    void sample(const MetricLabels& labels, const Histogram& histogram);
    void sample(const MetricLabels& labels, const Histogram::Snapshot& snapshot);

    const std::string& text() const { return text_; }

private:
    void requireFamily(bool histogram) const;
    void line(std::string_view suffix, const MetricLabels& labels, const MetricLabel* extra,
              std::string_view value);

    std::string text_;
    std::string current_;
    MetricType type_ = MetricType::Untyped;
    std::set<std::string, std::less<>> written_;
};

}  // namespace sncommon
