#include "snterm/consoleGuard.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace snterm {

namespace {

termios tioSave{};
termios tioRaw{};
volatile std::sig_atomic_t haveSaved = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Leaves the console as it was found, then lets the signal end the program
// the way it would have without us.  Async-signal-safe calls only.
extern "C" void restoreAndReraise(int signalNumber) {
    if (haveSaved != 0) tcsetattr(STDIN_FILENO, TCSANOW, &tioSave);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

extern "C" void restoreAndStop(int signalNumber);

// Raw again, but only from the foreground: from the background, changing
// the console would only stop us once more.
void rawInTheForeground() {
    if (haveSaved != 0 && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &tioRaw);
    }
}

void catchSignal(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigfillset(&action.sa_mask);  // one console change at a time
    sigaction(signalNumber, &action, nullptr);
}

// Ctrl-Z: the shell gets its console back as it was while we are stopped;
// the stop itself is the default one, taken from inside the handler.
extern "C" void restoreAndStop(int signalNumber) {
    const int savedErrno = errno;
    if (haveSaved != 0) tcsetattr(STDIN_FILENO, TCSANOW, &tioSave);
    std::signal(signalNumber, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signalNumber);
    std::raise(signalNumber);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // stops here until continued
    catchSignal(signalNumber, restoreAndStop);
    // Continued, or never stopped: an orphaned process group ignores it.
    rawInTheForeground();
    errno = savedErrno;
}

// Continued after any stop (SIGSTOP too).
extern "C" void rawAgain(int) {
    const int savedErrno = errno;
    rawInTheForeground();
    errno = savedErrno;
}

void installSignalGuards() {
    for (const int signalNumber : kEndingSignals) catchSignal(signalNumber, restoreAndReraise);
    catchSignal(SIGTSTP, restoreAndStop);
    catchSignal(SIGCONT, rawAgain);
}

}  // namespace

void rawMode() {
    if (tcgetattr(STDIN_FILENO, &tioSave) != 0) {
        return;  // not a terminal: nothing to change or restore
    }
    tioRaw = tioSave;
    tioRaw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tioRaw.c_iflag &= ~static_cast<tcflag_t>(INLCR | ICRNL);
    tioRaw.c_cc[VMIN] = 0;
    tioRaw.c_cc[VTIME] = 0;
    haveSaved = 1;
    installSignalGuards();
    tcsetattr(STDIN_FILENO, TCSANOW, &tioRaw);
}

void restoreConsole() {
    if (haveSaved != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &tioSave);
    }
}

}  // namespace snterm
