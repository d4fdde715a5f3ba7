// The page /probe answers: a probe's readings in the Prometheus text
// format.  Only what was read appears, so a silent node shows sn_up 0 and
// the probe's duration alone.
#pragma once

#include "nodeReadings.h"

#include <string>

namespace snctl {

std::string renderProbePage(const NodeReadings& readings, double seconds);

}  // namespace snctl
