// snterm's receive side: how fast a steady stream from the node reaches
// the console.
#pragma once

#include "terminal_process.h"
#include "terminal_runs.h"

#include "snsim/emulator.h"

namespace snbench {

// Keeps the node's receive FIFO full for `seconds` after a short warm-up
// and counts what the terminal prints; checks it is the stream, unchanged.
void measureReceive(snsim::Emulator& sim, TerminalProcess& term, double seconds,
                    TerminalFigures& f);

}  // namespace snbench
