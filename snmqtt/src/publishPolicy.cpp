#include "publishPolicy.h"

#include <algorithm>
#include <cstdlib>

namespace snmqtt {

PublishBudget::PublishBudget(double rate) : rate_(rate), tokens_(std::max(rate, 1.0)) {}

bool PublishBudget::take(double now) {
    if (last_ >= 0) tokens_ = std::min(std::max(rate_, 1.0), tokens_ + (now - last_) * rate_);
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

bool PublishedValues::due(const std::string& topic, const std::string& text, double now,
                          double maxAge) const {
    const auto found = last_.find(topic);
    return found == last_.end() || found->second.text != text || now - found->second.time >= maxAge;
}

bool PublishedValues::dueNumber(const std::string& topic, long value, unsigned deadband, double now,
                                double maxAge) const {
    const auto found = last_.find(topic);
    return found == last_.end() || std::labs(value - found->second.value) > long{deadband} ||
           now - found->second.time >= maxAge;
}

void PublishedValues::published(const std::string& topic, const std::string& text, long value,
                                double now) {
    last_[topic] = Last{text, value, now};
}

}  // namespace snmqtt
