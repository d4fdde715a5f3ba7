#include "sncommon/prometheusText.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace sncommon {

namespace {

bool nameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool nameChar(char c) { return nameStart(c) || (c >= '0' && c <= '9'); }

void checkLabels(const MetricLabels& labels, bool histogram) {
    for (std::size_t i = 0; i < labels.size(); ++i) {
        const std::string& name = labels[i].name;
        if (!validLabelName(name)) throw std::invalid_argument("bad label name: " + name);
        if (histogram && name == "le") {
            throw std::invalid_argument("\"le\" is a histogram's own label");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (labels[j].name == name) throw std::invalid_argument("label twice: " + name);
        }
    }
}

}  // namespace

bool validMetricName(std::string_view name) {
    if (name.empty() || !(nameStart(name[0]) || name[0] == ':')) return false;
    for (char c : name) {
        if (!nameChar(c) && c != ':') return false;
    }
    return true;
}

bool validLabelName(std::string_view name) {
    if (name.empty() || !nameStart(name[0]) || name.starts_with("__")) return false;
    for (char c : name) {
        if (!nameChar(c)) return false;
    }
    return true;
}

std::string formatMetricValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    // Every whole double below 2^63 is exactly an int64: digits, no exponent.
    if (std::trunc(value) == value && std::fabs(value) < 9.2e18) {
        return std::to_string(static_cast<long long>(value));
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

std::string escapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string escapeHelp(std::string_view help) {
    std::string out;
    out.reserve(help.size());
    for (char c : help) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

void PrometheusText::family(std::string_view name, MetricType type, std::string_view help) {
    if (!validMetricName(name))
        throw std::invalid_argument("bad metric name: " + std::string(name));
    std::vector<std::string> series{std::string(name)};
    if (type == MetricType::Histogram) {
        for (const char* suffix : {"_bucket", "_sum", "_count"})
            series.push_back(series[0] + suffix);
    }
    for (const std::string& one : series) {
        if (written_.count(one) != 0) throw std::invalid_argument("metric written twice: " + one);
    }
    written_.insert(series.begin(), series.end());
    static constexpr const char* kTypeNames[] = {"counter", "gauge", "histogram", "untyped"};
    text_ += "# HELP " + series[0] + ' ' + escapeHelp(help) + '\n';
    text_ += "# TYPE " + series[0] + ' ' + kTypeNames[static_cast<int>(type)] + '\n';
    current_ = series[0];
    type_ = type;
}

void PrometheusText::requireFamily(bool histogram) const {
    if (current_.empty()) throw std::logic_error("a sample before its family");
    if ((type_ == MetricType::Histogram) != histogram) {
        throw std::logic_error("sample does not match the type of " + current_);
    }
}

void PrometheusText::line(std::string_view suffix, const MetricLabels& labels,
                          const MetricLabel* extra, std::string_view value) {
    text_ += current_;
    text_ += suffix;
    if (!labels.empty() || extra != nullptr) {
        char separator = '{';
        auto add = [&](const MetricLabel& label) {
            text_ += separator + label.name + "=\"" + escapeLabelValue(label.value) + '"';
            separator = ',';
        };
        for (const MetricLabel& label : labels) add(label);
        if (extra != nullptr) add(*extra);
        text_ += '}';
    }
    text_ += ' ';
    text_ += value;
    text_ += '\n';
}

void PrometheusText::sample(const MetricLabels& labels, double value) {
    requireFamily(false);
    checkLabels(labels, false);
    line("", labels, nullptr, formatMetricValue(value));
}

void PrometheusText::sample(const MetricLabels& labels, const Counter& counter) {
    requireFamily(false);
    checkLabels(labels, false);
    line("", labels, nullptr, std::to_string(counter.value()));
}

void PrometheusText::sample(const MetricLabels& labels, const Gauge& gauge) {
    sample(labels, gauge.value());
}

void PrometheusText::sample(const MetricLabels& labels, const Histogram& histogram) {
    sample(labels, histogram.snapshot());
}

void PrometheusText::sample(const MetricLabels& labels, const Histogram::Snapshot& snapshot) {
    requireFamily(true);
    checkLabels(labels, true);
    if (snapshot.perBucket.size() != snapshot.upperBounds.size() + 1) {
        throw std::invalid_argument("histogram snapshot without its +Inf bucket");
    }
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < snapshot.perBucket.size(); ++i) {
        cumulative += snapshot.perBucket[i];
        const bool last = i == snapshot.upperBounds.size();
        const MetricLabel le{"le", last ? "+Inf" : formatMetricValue(snapshot.upperBounds[i])};
        line("_bucket", labels, &le, std::to_string(cumulative));
    }
    line("_sum", labels, nullptr, formatMetricValue(snapshot.sum));
    line("_count", labels, nullptr, std::to_string(snapshot.count));
}

}  // namespace sncommon
