// Raw console mode and its restoration on every way out of the program.
#pragma once

namespace snterm {

// Saves the settings of descriptor 0 (tioSave), installs handlers that
// restore them on SIGINT, SIGTERM, SIGHUP and SIGQUIT (then end the program
// by the same signal) and while stopped (SIGTSTP; raw again on SIGCONT),
// then switches to raw mode:
// no canonical input, no echo, no CR/NL translation, reads return at once.
// Signals and output processing stay on.  When descriptor 0 is not a
// terminal nothing is saved, changed or restored later.
void rawMode();

// Puts the saved settings back, if any were saved.  Safe to call often.
void restoreConsole();

}  // namespace snterm
