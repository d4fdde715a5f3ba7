// The real snterm program, started on a pseudo-terminal of its own so that
// it runs exactly as at a console: keystrokes go in at the pty master, what
// it prints comes out there.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "consoleProgram.h"

namespace snbench {

class TerminalProcess {
public:
    TerminalProcess() = default;
    ~TerminalProcess() { stop(); }
    TerminalProcess(const TerminalProcess&) = delete;
    TerminalProcess& operator=(const TerminalProcess&) = delete;

    // Starts `program` on `device` (port 0, slave 1, the given speeds) and
    // waits until its relay loop runs; false with a message on failure.
    bool start(const std::string& program, const std::string& device, int modbusBaud);

    // Sends one keystroke.
    bool type(uint8_t byte);
    // Bytes the program printed, waiting at most `wait` for the first.
    std::string output(std::chrono::milliseconds wait) { return console_.newOutput(wait); }
    // User plus system CPU time the program has used so far, in seconds.
    double cpuSeconds() const;
    // The same from the scheduler's nanosecond account (0 if unavailable):
    // the tick-based figure above moves in 10 ms steps.
    double scheduledSeconds() const;
    // Ctrl-D, then waits for the exit (signals it if it will not go).
    void stop();

private:
    sntest::ConsoleProgram console_;
    bool started_ = false;
};

}  // namespace snbench
