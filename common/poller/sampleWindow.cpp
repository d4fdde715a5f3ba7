#include "sampleWindow.h"

#include <cmath>
#include <cstdio>

namespace snpoll {

SampleWindow::SampleWindow(std::size_t capacity) : ring_(capacity == 0 ? 1 : capacity) {}

void SampleWindow::add(const Sample& sample) {
    ring_[next_] = sample;
    next_ = (next_ + 1) % ring_.size();
    if (count_ < ring_.size()) ++count_;
}

const Sample& SampleWindow::at(std::size_t age) const {
    return ring_[(next_ + ring_.size() - count_ + age) % ring_.size()];
}

std::vector<Sample> SampleWindow::since(double after, std::size_t most) const {
    std::size_t first = count_;
    while (first > 0 && at(first - 1).time > after) --first;
    if (count_ - first > most) first = count_ - most;
    std::vector<Sample> found;
    found.reserve(count_ - first);
    for (std::size_t age = first; age < count_; ++age) found.push_back(at(age));
    return found;
}

std::string SampleWindow::csv() const {
    std::string text = "time";
    for (std::size_t c = 0; c < kChannels; ++c) text += ",ch" + std::to_string(c);
    text += "\n";
    char line[128];
    for (std::size_t age = 0; age < count_; ++age) {
        const Sample& s = at(age);
        int used = std::snprintf(line, sizeof line, "%.3f", s.time);
        for (const uint16_t v : s.values)
            used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), ",%u",
                                  static_cast<unsigned>(v));
        text.append(line, static_cast<std::size_t>(used));
        text += "\n";
    }
    return text;
}

std::size_t windowCapacity(double rate, double seconds) {
    return static_cast<std::size_t>(std::ceil(rate * seconds)) + 1;
}

}  // namespace snpoll
