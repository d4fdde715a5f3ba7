// Runs a program with a pseudo-terminal as its console, as a user would:
// the test types into the master side and reads what the program shows.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace snterm_test {

using std::chrono::milliseconds;

struct ConsoleOptions {
    bool outputProcessing = true;   // OPOST: "\n" shown as "\r\n"
    bool stdinFromDevNull = false;  // input at end of file from the start
};

class ConsoleProgram {
public:
    ConsoleProgram();   // opens the pty; check ok()
    ~ConsoleProgram();  // kills a program still running
    ConsoleProgram(const ConsoleProgram&) = delete;
    ConsoleProgram& operator=(const ConsoleProgram&) = delete;

    bool ok() const { return master_ >= 0 && slave_ >= 0; }
    bool start(const std::string& path, const std::vector<std::string>& args,
               ConsoleOptions options = {});

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

    // Raw wait status once the program has ended, nothing on timeout.
    std::optional<int> waitForExit(milliseconds timeout);
    bool running();
    void sendSignal(int signalNumber);

private:
    void readAvailable(milliseconds wait);

    int master_ = -1;
    int slave_ = -1;  // kept open so the console outlives the program
    pid_t pid_ = -1;
    std::optional<int> exitStatus_;
    std::string output_;
};

bool sameSettings(const termios& a, const termios& b);

}  // namespace snterm_test
