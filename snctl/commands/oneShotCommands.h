// The one-shot commands: each opens the node, makes its transactions and
// reports the result.
#pragma once

#include "commandContext.h"

namespace snctl {

// Node level (nodeCommands.cpp).
void runInfo(const Arguments& args, CommandContext& context);
void runPower(const Arguments& args, CommandContext& context);
void runAnalog(const Arguments& args, CommandContext& context);
void runParams(const Arguments& args, CommandContext& context);
void runBlink(const Arguments& args, CommandContext& context);
void runDc(const Arguments& args, CommandContext& context);
void runResetConfig(const Arguments& args, CommandContext& context);
void runTimeout(const Arguments& args, CommandContext& context);
// "port P ..." (portCommands.cpp).
void runPort(const Arguments& args, CommandContext& context);
// "scan": the nodes on the bus (scanCommand.cpp).
void runScan(const Arguments& args, CommandContext& context);

}  // namespace snctl
