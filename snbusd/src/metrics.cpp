#include "metrics.h"

#include "sncommon/prometheusText.h"

namespace snbusd {

void Metrics::transaction(uint8_t slave, const char* outcome, double seconds) {
    durations_.observe(seconds);
    std::lock_guard lock(mutex_);
    ++transactions_[{slave, outcome}];
}

void Metrics::nodeException(uint8_t slave, uint8_t code) {
    std::lock_guard lock(mutex_);
    ++exceptions_[{slave, code}];
}

void Metrics::lateAnswer(uint8_t slave) {
    std::lock_guard lock(mutex_);
    ++lateAnswers_[slave];
}

void Metrics::orphanedAnswer(uint8_t slave) {
    std::lock_guard lock(mutex_);
    ++orphanedAnswers_[slave];
}

void Metrics::unsettledRequest(uint8_t slave) {
    std::lock_guard lock(mutex_);
    ++unsettledRequests_[slave];
}

void Metrics::refused(const char* reason) {
    std::lock_guard lock(mutex_);
    ++refusals_[reason];
}

void Metrics::connection(bool accepted) {
    std::lock_guard lock(mutex_);
    ++(accepted ? accepted_ : turnedAway_);
}

std::string Metrics::render() const {
    using sncommon::MetricType;
    sncommon::PrometheusText text;
    std::lock_guard lock(mutex_);
    text.family("snbusd_transactions_total", MetricType::Counter,
                "Transactions on the serial line, by slave and how they ended.");
    for (const auto& [key, count] : transactions_)
        text.sample({{"slave", std::to_string(key.first)}, {"outcome", key.second}},
                    static_cast<double>(count));
    text.family("snbusd_node_exceptions_total", MetricType::Counter,
                "Exception answers of the nodes, passed on to their clients, by code.");
    for (const auto& [key, count] : exceptions_)
        text.sample({{"slave", std::to_string(key.first)}, {"code", std::to_string(key.second)}},
                    static_cast<double>(count));
    text.family("snbusd_late_answers_total", MetricType::Counter,
                "Answers that came after the response timeout of their request.");
    for (const auto& [slave, count] : lateAnswers_)
        text.sample({{"slave", std::to_string(slave)}}, static_cast<double>(count));
    text.family("snbusd_orphaned_answers_total", MetricType::Counter,
                "Answers of the nodes nobody took: the client had gone, or had been told 0x0B.");
    for (const auto& [slave, count] : orphanedAnswers_)
        text.sample({{"slave", std::to_string(slave)}}, static_cast<double>(count));
    text.family("snbusd_unsettled_requests_total", MetricType::Counter,
                "Requests given up on whose outcome the node never told.");
    for (const auto& [slave, count] : unsettledRequests_)
        text.sample({{"slave", std::to_string(slave)}}, static_cast<double>(count));
    text.family("snbusd_refused_requests_total", MetricType::Counter,
                "Requests the daemon answered itself, without the line, by reason.");
    for (const auto& [reason, count] : refusals_)
        text.sample({{"reason", reason}}, static_cast<double>(count));
    text.family("snbusd_transaction_duration_seconds", MetricType::Histogram,
                "Time of a transaction on the serial line.");
    text.sample({}, durations_);
    text.family("snbusd_requests_waiting", MetricType::Gauge, "Requests waiting for the line.");
    text.sample({}, static_cast<double>(waiting_.load()));
    text.family("snbusd_clients_connected", MetricType::Gauge, "Modbus TCP clients connected.");
    text.sample({}, static_cast<double>(clients_.load()));
    text.family("snbusd_connections_total", MetricType::Counter,
                "Connections accepted, and turned away at the client limit.");
    text.sample({{"result", "accepted"}}, static_cast<double>(accepted_));
    text.sample({{"result", "turned_away"}}, static_cast<double>(turnedAway_));
    text.family("snbusd_line_up", MetricType::Gauge,
                "1 while the serial device is open, 0 while it is gone.");
    text.sample({}, lineUp_.load() ? 1.0 : 0.0);
    return text.text();
}

}  // namespace snbusd
