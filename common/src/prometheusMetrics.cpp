#include "sncommon/prometheusMetrics.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sncommon {

void Gauge::add(double delta) {
    double seen = value_.load(std::memory_order_relaxed);
    while (!value_.compare_exchange_weak(seen, seen + delta, std::memory_order_relaxed)) {
    }
}

namespace {

std::vector<double> checked(std::vector<double> bounds) {
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        if (!std::isfinite(bounds[i])) {
            throw std::invalid_argument("histogram bound not finite (+Inf is implicit)");
        }
        if (i > 0 && !(bounds[i - 1] < bounds[i])) {
            throw std::invalid_argument("histogram bounds not strictly increasing");
        }
    }
    return bounds;
}

}  // namespace

Histogram::Histogram(std::vector<double> upperBounds)
    : upperBounds_(checked(std::move(upperBounds))), perBucket_(upperBounds_.size() + 1, 0) {}

void Histogram::observe(double value) {
    if (std::isnan(value)) return;
    const auto bucket = static_cast<std::size_t>(
        std::lower_bound(upperBounds_.begin(), upperBounds_.end(), value) - upperBounds_.begin());
    const std::lock_guard<std::mutex> lock(mutex_);
    ++perBucket_[bucket];
    sum_ += value;
    ++count_;
}

Histogram::Snapshot Histogram::snapshot() const {
    Snapshot taken;
    taken.upperBounds = upperBounds_;
    const std::lock_guard<std::mutex> lock(mutex_);
    taken.perBucket = perBucket_;
    taken.sum = sum_;
    taken.count = count_;
    return taken;
}

std::vector<double> Histogram::secondsBuckets() {
    return {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
}

}  // namespace sncommon
