// The probes: short reads that change nothing on a node, sent to bring the
// line in step after a request went unanswered.  The node answers in
// order, so once a probe's answer comes, every answer owed before it has
// come or never will; that holds only for a probe whose answer no owed
// answer can look like.
#pragma once

#include <cstddef>
#include <cstdint>

#include "snline/owedAnswers.h"

namespace snline {

inline constexpr std::size_t kProbeSize = 5;

// A probe whose answer no owed answer can look like, or nullptr when
// there is none.
const uint8_t* freeProbe(const OwedAnswers& owed);

}  // namespace snline
