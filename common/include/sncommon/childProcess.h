// Starting a program as a child process, and reaping it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace sncommon {

// What the child gets as descriptors 0, 1 and 2 (-1: /dev/null).
struct ChildIo {
    int in = -1;
    int out = -1;
    int err = -1;
    // When set, the child starts a session of its own with this terminal
    // as its controlling terminal, as a program started at a console.
    int terminal = -1;
    // The child leads a process group of its own, so that everything it
    // starts can be ended with it.
    bool processGroup = false;
};

// Starts argv[0] (a path, or a name looked up in PATH) with the given
// descriptors.  The child begins with no blocked signals and default
// dispositions, whatever the caller has set.  The pid, or -1 with errno.
pid_t startChild(const std::vector<std::string>& argv, const ChildIo& io = {});

// Waits up to `timeout` for the child to end; its wait status, or nothing
// while it still runs.
std::optional<int> waitForChild(pid_t pid, std::chrono::milliseconds timeout);

// Sends `signal` (to the whole group when `group`), waits up to `grace`,
// then SIGKILL; reaps the child and returns its wait status.
int endChild(pid_t pid, int signal, std::chrono::milliseconds grace, bool group = false);

// A child that is ended and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // SIGKILL if still running, then reaped
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, const ChildIo& io = {});
    pid_t pid() const { return pid_; }
    bool running();
    // The wait status once it has ended; nothing on timeout.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void signal(int signalNumber) const;
    // Ends it as endChild does; the wait status (or the one seen earlier).
    int stop(int signalNumber, std::chrono::milliseconds grace);
    std::optional<int> exitStatus() const { return status_; }

private:
    pid_t pid_ = -1;
    bool group_ = false;
    std::optional<int> status_;
};

}  // namespace sncommon
