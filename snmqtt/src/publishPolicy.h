// When a value is worth a message: it changed by more than its deadband, or
// it has stood unrepeated for the max-age (so a quiet value never looks
// stale), and a bus's publishes stay under a cap a second.
#pragma once

#include <map>
#include <string>

namespace snmqtt {

// A token bucket: `rate` publishes a second, a second's worth at once.
class PublishBudget {
public:
    explicit PublishBudget(double rate);
    bool take(double now);  // false: nothing more this moment

private:
    double rate_;
    double tokens_;
    double last_ = -1;
};

// What was last published on each topic, and when.
class PublishedValues {
public:
    // A text is due when it differs from the last one or has aged.
    bool due(const std::string& topic, const std::string& text, double now, double maxAge) const;
    // A number is due when it moved by more than `deadband` or has aged.
    bool dueNumber(const std::string& topic, long value, unsigned deadband, double now,
                   double maxAge) const;
    void published(const std::string& topic, const std::string& text, long value, double now);
    // After a reconnect or a restarted Home Assistant: everything is due.
    void forget() { last_.clear(); }
    void forget(const std::string& topic) { last_.erase(topic); }

private:
    struct Last {
        std::string text;
        long value = 0;
        double time = 0;
    };
    std::map<std::string, Last> last_;
};

}  // namespace snmqtt
