// The analog readings of one node over the plot's window, in memory fixed
// at start: the oldest reading gives way to the newest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace snpoll {

inline constexpr std::size_t kChannels = 8;

struct Sample {
    double time = 0;  // seconds since the epoch
    std::array<uint16_t, kChannels> values{};
};

class SampleWindow {
public:
    explicit SampleWindow(std::size_t capacity);

    void add(const Sample& sample);
    std::size_t size() const { return count_; }
    std::size_t capacity() const { return ring_.size(); }
    // Readings newer than `after`, oldest first, at most `most` of them
    // (the newest ones when there are more).
    std::vector<Sample> since(double after, std::size_t most) const;
    // The whole window: a header line, then "time,ch0..ch7" a reading.
    std::string csv() const;

private:
    const Sample& at(std::size_t age) const;  // 0: the oldest held

    std::vector<Sample> ring_;
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

// Readings a window at `rate` per second must hold for `seconds`.
std::size_t windowCapacity(double rate, double seconds);

}  // namespace snpoll
