#include "terminalProcess.h"

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace snbench {

namespace {

constexpr char kCtrlD = 4;

}  // namespace

bool TerminalProcess::start(const std::string& program, const std::string& device, int modbusBaud) {
    started_ = console_.start(program, {"-p", device, "-t", "0", "-b", "115200", "-m",
                                        std::to_string(modbusBaud), "-a", "1"});
    if (started_ && console_.waitForOutput("Using serial port", std::chrono::seconds(5))) {
        console_.newOutput(std::chrono::milliseconds(0));  // the banner is not measured
        return true;
    }
    std::fprintf(stderr, "snbench: snterm did not reach its relay loop; it said: %s\n",
                 console_.output().c_str());
    return false;
}

bool TerminalProcess::type(uint8_t byte) {
    if (!console_.running()) return false;
    console_.type(std::string(1, static_cast<char>(byte)));
    return true;
}

double TerminalProcess::cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(console_.pid()) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double TerminalProcess::scheduledSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(console_.pid()) + "/schedstat");
    unsigned long long ns = 0;
    stat >> ns;
    return static_cast<double>(ns) * 1e-9;
}

void TerminalProcess::stop() {
    if (!started_) return;
    started_ = false;
    if (console_.running()) console_.type(std::string(1, kCtrlD));
    if (console_.waitForExit(std::chrono::seconds(2))) return;
    console_.sendSignal(SIGTERM);
    if (!console_.waitForExit(std::chrono::seconds(2))) console_.sendSignal(SIGKILL);
}

}  // namespace snbench
