#include "snterm/consoleGuard.h"

#include <termios.h>
#include <unistd.h>
#include <csignal>

namespace snterm {

namespace {

termios tioSave{};
volatile std::sig_atomic_t haveSaved = 0;

constexpr int kGuardedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Leaves the console as it was found, then lets the signal end the program
// the way it would have without us.  Async-signal-safe calls only.
extern "C" void restoreAndReraise(int signalNumber) {
    if (haveSaved != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &tioSave);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void installSignalGuards() {
    struct sigaction action {};
    action.sa_handler = restoreAndReraise;
    sigfillset(&action.sa_mask);  // one restore at a time
    for (const int signalNumber : kGuardedSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

void rawMode() {
    if (tcgetattr(STDIN_FILENO, &tioSave) != 0) {
        return;  // not a terminal: nothing to change or restore
    }
    haveSaved = 1;
    installSignalGuards();

    termios raw = tioSave;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_iflag &= ~static_cast<tcflag_t>(INLCR | ICRNL);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
}

void restoreConsole() {
    if (haveSaved != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &tioSave);
    }
}

}  // namespace snterm
