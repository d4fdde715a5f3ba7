// Arguments of "exporter [--listen HOST:PORT] --target NAME=DEVICE[,slave=N][,baud=B]...".
#pragma once

#include <string>
#include <vector>

#include "sncommon/nodeTarget.h"

namespace snctl {

// One node Prometheus may name in a probe.
using ProbeTarget = sncommon::NodeTarget;

struct ExporterOptions {
    std::string listen;
    std::vector<ProbeTarget> targets;
};

// Loopback, so that only this machine reaches the exporter unless told.
inline constexpr const char* kDefaultExporterListen = "127.0.0.1:9740";

// Throws UsageError naming what was expected.  Refuses a name or a node
// (device and slave) given twice, and more targets than the library can
// hold open at once.
ExporterOptions parseExporterOptions(const std::vector<std::string>& args);

// "NAME=DEVICE[,slave=N][,baud=B]" on its own.
ProbeTarget parseProbeTarget(const std::string& text);

}  // namespace snctl
