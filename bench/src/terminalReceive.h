// snterm's receive side: how fast a steady stream from the node reaches
// the console.
#pragma once

#include "terminalProcess.h"
#include "terminalRuns.h"

#include "snsim/emulator.h"

namespace snbench {

// Keeps the node's receive FIFO full for `seconds` after a short warm-up
// and counts what the terminal prints; checks it is the stream, unchanged.
void measureReceive(snsim::Emulator& sim, TerminalProcess& term, double seconds,
                    TerminalFigures& f);

}  // namespace snbench
