// One line per event on standard error, whole lines only, whichever
// thread logs them.
#pragma once

#include <mutex>
#include <string>

namespace snbusd {

class EventLog {
public:
    explicit EventLog(bool verbose) : verbose_(verbose) {}
    void event(const std::string& line);
    // Per-transaction lines, only with -v.
    void detail(const std::string& line);
    bool verbose() const { return verbose_; }

private:
    std::mutex mutex_;
    bool verbose_;
};

}  // namespace snbusd
