// "bridge P ... --link PATH": a virtual port of the node as a local
// pseudo-terminal, until a stop signal.
#pragma once

#include "commandContext.h"

namespace snctl {

void runBridge(const Arguments& args, CommandContext& context);

}  // namespace snctl
