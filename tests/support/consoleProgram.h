// Runs a program with a pseudo-terminal as its console, as a user would:
// the test types into the master side and reads what the program shows.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sncommon/childProcess.h"
#include "sncommon/pseudoTerminal.h"

namespace sntest {

using std::chrono::milliseconds;

struct ConsoleOptions {
    bool outputProcessing = true;   // OPOST: "\n" shown as "\r\n"
    bool stdinFromDevNull = false;  // input at end of file from the start
};

class ConsoleProgram {
public:
    ConsoleProgram();             // opens the pty; check ok()
    ~ConsoleProgram() = default;  // kills a program still running
    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;

    bool ok() const { return pty_ != nullptr; }
    bool start(const std::string& path, const std::vector<std::string>& args,
               ConsoleOptions options = {});
    pid_t pid() const { return child_.pid(); }

    // Settings of the console as the program sees them.
    termios consoleSettings() const;

    void type(std::string_view bytes);
    // Waits until everything shown so far contains `text`.
    bool waitForOutput(std::string_view text, milliseconds timeout);
    // Waits until at least `size` bytes have been shown in all.
    bool waitForOutputSize(std::size_t size, milliseconds timeout);
    // Collects whatever is shown within `period`.
    void drainFor(milliseconds period);
    const std::string& output() const { return output_; }
    // What was shown since the last call, waiting at most `wait` for it.
    std::string newOutput(milliseconds wait);

    // Raw wait status once the program has ended, nothing on timeout.
    std::optional<int> waitForExit(milliseconds timeout);
    bool running() { return child_.running(); }
    void sendSignal(int signalNumber) { child_.signal(signalNumber); }

private:
    void readAvailable(milliseconds wait);

    std::unique_ptr<sncommon::PseudoTerminal> pty_;  // kept: the console outlives the program
    sncommon::ChildProcess child_;
    std::string output_;
    std::size_t taken_ = 0;
};

bool sameSettings(const termios& a, const termios& b);

}  // namespace sntest
