#include "eventLog.h"

#include <cstdio>

namespace snbusd {

void EventLog::event(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "snbusd: %s\n", line.c_str());
    std::fflush(stderr);
}

void EventLog::detail(const std::string& line) {
    if (verbose_) event(line);
}

}  // namespace snbusd
