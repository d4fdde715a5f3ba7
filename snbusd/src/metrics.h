// What the daemon counts, for Prometheus at /metrics.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "sncommon/prometheusMetrics.h"

namespace snbusd {

class Metrics {
public:
    // A transaction on the line to `slave`, and how it ended: "ok",
    // "timeout", "garbled" or "device_gone"; a node exception counts as
    // "ok" on the line and by its code below.
    void transaction(uint8_t slave, const char* outcome, double seconds);
    void nodeException(uint8_t slave, uint8_t code);
    // A frame that came after the response timeout of the request it answers.
    void lateAnswer(uint8_t slave);
    // An answer of `slave` nobody takes: its client had gone, or had been
    // told 0x0B before it came.
    void orphanedAnswer(uint8_t slave);
    // A request of a client given up on whose outcome `slave` never told:
    // its answer was garbled or not to be told for it, or the node stayed
    // silent past the debt's life.
    void unsettledRequest(uint8_t slave);
    // Requests answered by the daemon without the line: "read_only",
    // "unit", "function", "malformed", "device_gone".
    void refused(const char* reason);
    void connection(bool accepted);

    void setClients(std::size_t clients) { clients_.store(clients); }
    void setWaiting(std::size_t waiting) { waiting_.store(waiting); }
    void setLineUp(bool up) { lineUp_.store(up); }

    // Prometheus text format.
    std::string render() const;

private:
    mutable std::mutex mutex_;
    std::map<std::pair<int, std::string>, uint64_t> transactions_;  // (slave, outcome)
    std::map<std::pair<int, int>, uint64_t> exceptions_;            // (slave, code)
    std::map<int, uint64_t> lateAnswers_;                           // by slave
    std::map<int, uint64_t> orphanedAnswers_;                       // by slave
    std::map<int, uint64_t> unsettledRequests_;                     // by slave
    std::map<std::string, uint64_t> refusals_;
    sncommon::Histogram durations_{sncommon::Histogram::secondsBuckets()};
    uint64_t accepted_ = 0;
    uint64_t turnedAway_ = 0;
    std::atomic<std::size_t> clients_{0};
    std::atomic<std::size_t> waiting_{0};
    std::atomic<bool> lineUp_{false};
};

}  // namespace snbusd
