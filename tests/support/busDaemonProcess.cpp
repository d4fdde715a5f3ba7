#include "busDaemonProcess.h"

#include <algorithm>
#include <optional>
#include <regex>
#include <thread>

namespace sntest {

namespace {

std::optional<uint16_t> portAfter(const std::string& log, const std::string& words) {
    std::smatch found;
    if (!std::regex_search(log, found, std::regex(words + "127\\.0\\.0\\.1:([0-9]+)"))) return {};
    return static_cast<uint16_t>(std::stoi(found[1]));
}

}  // namespace

bool BusDaemonProcess::start(const std::string& path, const std::string& device,
                             const std::vector<std::string>& extra,
                             std::chrono::milliseconds timeout) {
    std::vector<std::string> argv{path, "-p", device, "--metrics", "127.0.0.1:0"};
    // A port of the system's choosing, unless the caller names its own.
    if (std::find(extra.begin(), extra.end(), "--listen") == extra.end())
        argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
    argv.insert(argv.end(), extra.begin(), extra.end());
    if (!process_.start(argv)) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (log().find("serving ") == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto listening = portAfter(log(), "listening on ");
    const auto metrics = portAfter(log(), "metrics on http://");
    if (!listening || !metrics) return false;
    port_ = *listening;
    metricsPort_ = *metrics;
    return true;
}

}  // namespace sntest
