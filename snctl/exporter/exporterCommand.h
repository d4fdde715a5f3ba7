// "exporter --listen HOST:PORT --target NAME=DEVICE...": nodes for
// Prometheus, read at scrape time, until SIGINT, SIGTERM or SIGHUP.
#pragma once

#include "commandContext.h"

namespace snctl {

void runExporter(const Arguments& args, CommandContext& context);

}  // namespace snctl
