// Figures of the real snterm relaying to an emulated node with line timing.
#pragma once

#include <string>
#include <vector>

#include "snsim/emulator.h"
#include "terminalProcess.h"

namespace snbench {

struct TerminalFigures {
    bool ok = false;
    int modbusBaud = 0;
    double idleSeconds = 0;
    double idleCpuPercent = 0;      // of one core, while nothing is typed or received
    double idleSchedPercent = 0;    // the same from the scheduler's account
    double idlePollsPerSecond = 0;  // transactions the idle loop makes
    int keystrokes = 0;
    int keystrokesSeen = 0;  // of those, found in the node's log
    double latencyMedianMs = 0, latencyP90Ms = 0, latencyMaxMs = 0;
    double receiveSeconds = 0;
    double receiveBytesPerSecond = 0;
    bool receiveIntact = false;  // the console got the stream unchanged
};

// The p-th fraction (0 to 1) of `values`, 0 when there are none.
double percentile(std::vector<double> values, double p);
// Milliseconds from each of `count` keystrokes, typed at random moments, to
// its function-23 request reaching the node; keystrokes not seen are left out.
std::vector<double> keystrokeLatenciesMs(snsim::Emulator& sim, TerminalProcess& term, int count);

TerminalFigures measureTerminal(const std::string& program, int modbusBaud, double idleSeconds,
                                int keystrokes, double receiveSeconds);

}  // namespace snbench
