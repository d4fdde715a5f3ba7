// The real snterm program, started on a pseudo-terminal of its own so that
// it runs exactly as at a console: keystrokes go in at the pty master, what
// it prints comes out there.
#pragma once

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <string>

namespace snbench {

class TerminalProcess {
public:
    TerminalProcess() = default;
    ~TerminalProcess();  // ends the program if it still runs
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // Starts `program` on `device` (port 0, slave 1, the given speeds) and
    // waits until its relay loop runs; false with a message on failure.
    bool start(const std::string& program, const std::string& device, int modbusBaud);

    pid_t pid() const { return pid_; }
    // Sends one keystroke.
    bool type(uint8_t byte);
    // Bytes the program printed, waiting at most `wait` for the first.
    std::string output(std::chrono::milliseconds wait);
    // User plus system CPU time the program has used so far, in seconds.
    double cpuSeconds() const;
    // The same from the scheduler's nanosecond account (0 if unavailable):
    // the tick-based figure above moves in 10 ms steps.
    double scheduledSeconds() const;
    // Ctrl-D, then waits for the exit (signals it if it will not go).
    void stop();

private:
    bool waitForText(const std::string& text, std::chrono::milliseconds limit);

    int master_ = -1;
    pid_t pid_ = -1;
};

}  // namespace snbench
