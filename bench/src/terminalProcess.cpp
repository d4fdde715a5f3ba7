#include "terminalProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace snbench {

namespace {

constexpr uint8_t kCtrlD = 4;

// Child side: the pty becomes the controlling terminal and all three
// standard descriptors, then the program replaces the child.  Only
// async-signal-safe calls here: the emulator's threads run in the parent.
[[noreturn]] void runChild(const char* slavePath, const char* program, const char* device,
                           const char* modbusBaud) {
    setsid();
    const int fd = ::open(slavePath, O_RDWR);
    if (fd < 0) _exit(127);
    for (int target = 0; target < 3; ++target) dup2(fd, target);
    if (fd > 2) ::close(fd);
    execl(program, program, "-p", device, "-t", "0", "-b", "115200", "-m", modbusBaud, "-a", "1",
          static_cast<char*>(nullptr));
    _exit(127);
}

bool reaped(pid_t pid, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TerminalProcess::~TerminalProcess() { stop(); }

bool TerminalProcess::start(const std::string& program, const std::string& device, int modbusBaud) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        std::perror("snbench: pty for snterm");
        return false;
    }
    const std::string slave = ptsname(master_);
    const std::string baud = std::to_string(modbusBaud);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) runChild(slave.c_str(), program.c_str(), device.c_str(), baud.c_str());
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (waitForText("Using serial port", std::chrono::seconds(5))) return true;
    std::fprintf(stderr, "snbench: snterm did not reach its relay loop\n");
    return false;
}

bool TerminalProcess::waitForText(const std::string& text, std::chrono::milliseconds limit) {
    std::string seen;
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
        seen += output(std::chrono::milliseconds(50));
        if (seen.find(text) != std::string::npos) return true;
    }
    std::fprintf(stderr, "snbench: snterm said: %s\n", seen.c_str());
    return false;
}

bool TerminalProcess::type(uint8_t byte) { return ::write(master_, &byte, 1) == 1; }

std::string TerminalProcess::output(std::chrono::milliseconds wait) {
    std::string out;
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(wait.count())) <= 0) return out;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

double TerminalProcess::cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
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
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/schedstat");
    unsigned long long ns = 0;
    stat >> ns;
    return static_cast<double>(ns) * 1e-9;
}

void TerminalProcess::stop() {
    if (pid_ > 0) {
        type(kCtrlD);
        if (!reaped(pid_, std::chrono::seconds(2))) {
            kill(pid_, SIGTERM);
            if (!reaped(pid_, std::chrono::seconds(2))) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        pid_ = -1;
    }
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace snbench
