// Values a program counts while it runs and shows on /metrics: counters,
// gauges and histograms of durations.  All are safe to update from any
// thread while a scrape reads them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sncommon {

class Counter {
public:
    void add(std::uint64_t n = 1) { value_.fetch_add(n, std::memory_order_relaxed); }
    std::uint64_t value() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> value_{0};
};

class Gauge {
public:
    void set(double value) { value_.store(value, std::memory_order_relaxed); }
    void add(double delta);
    double value() const { return value_.load(std::memory_order_relaxed); }

private:
    std::atomic<double> value_{0.0};
};

class Histogram {
public:
    struct Snapshot {
        std::vector<double> upperBounds;       // without +Inf
        std::vector<std::uint64_t> perBucket;  // one more than the bounds: the last is +Inf's
        double sum = 0.0;
        std::uint64_t count = 0;
    };

    // Finite and strictly increasing bounds (+Inf is always there, last);
    // std::invalid_argument otherwise.
    explicit Histogram(std::vector<double> upperBounds);

    // An observation falls in the first bucket whose bound it does not
    // exceed.  NaN is not counted: it would make the sum meaningless.
    void observe(double value);
    // Buckets, sum and count taken together, so they always agree.
    Snapshot snapshot() const;

    // Seconds, from 1 ms to 10 s: a Modbus transaction or a scrape.
    static std::vector<double> secondsBuckets();

private:
    const std::vector<double> upperBounds_;
    mutable std::mutex mutex_;
    std::vector<std::uint64_t> perBucket_;
    double sum_ = 0.0;
    std::uint64_t count_ = 0;
};

}  // namespace sncommon
