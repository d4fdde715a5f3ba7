// Figures of a line whose node fails: what one failed transaction costs the
// caller, and how many values read back are not the caller's own while the
// node answers late, with the library and with plain libmodbus.
#pragma once

namespace snbench {

struct FailureCost {
    bool ok = false;
    double timeoutMs = 0;  // the response timeout set
    double failedMs = 0;   // the failed call, median
    double extraMs = 0;    // the next call's time beyond a normal one's, median
};

struct WrongValues {
    bool ok = false;
    long readBacks = 0, wrong = 0;          // the library
    long peerReadBacks = 0, peerWrong = 0;  // plain libmodbus on the same line
    unsigned long lateInjected = 0;
};

// The node drops one request (no answer ever); the library's next call
// pays for the resynchronisation.  Line timing at `baud`.
FailureCost measureFailureCost(int baud, int rounds);
// Four threads write their own parameter words and read them back while
// the node answers 3 % late (1.5 and 3 times the timeout).
WrongValues measureWrongValues(int perThread);

}  // namespace snbench
