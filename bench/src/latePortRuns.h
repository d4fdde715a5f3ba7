// A virtual port whose node answers late: both directions at once while 3 %
// of the port's transactions are answered 900 ms late (after the library's
// 600 ms timeout), against the same transfer on a line without faults; and
// what one late answer costs the call that settles it.
#pragma once

#include <cstddef>

namespace snbench {

struct LatePortStream {
    bool ok = false;
    std::size_t bytes = 0;               // payload, both directions
    std::size_t lost = 0, repeated = 0;  // bytes, both directions
    double seconds = 0;                  // the transfer under late answers
    double silentSeconds = 0;            // late answers times how late
    double faultFreeSeconds = 0;         // the same transfer without them
    unsigned long lateAnswers = 0;
};

// Numbered lines (`bytesEachWay` of them) written with snSerWrite in one
// thread while snSerRead takes the node's in another; line timing at 115200.
LatePortStream measureLatePortStream(std::size_t bytesEachWay);

struct SettledCall {
    bool ok = false;
    int rounds = 0;
    double readMs = 0, writeMs = 0;          // the call, median
    double readNodeMs = 0, writeNodeMs = 0;  // the node's answer: its frames and the delay
};

// snSerRead of a full block and snSerWrite of a full chunk, each answered
// 900 ms late and settled within the call.
SettledCall measureSettledCall(int rounds);

}  // namespace snbench
