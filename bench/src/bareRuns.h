// Timed transfers made with bare libmodbus calls: the same transactions as
// the library's, for comparison.
#pragma once

#include "bareLink.h"
#include "nodeRig.h"
#include "transferRuns.h"

#include <cstddef>

namespace snbench {

// Function-23 transactions writing `bytes` (packed beforehand, outside the
// timing) in blocks of up to 240.
TransferResult timedBareWrite(NodeRig& rig, BareLink& bare, std::size_t bytes);

// Function-03 transactions of full receive blocks over `bytes` the node was
// given; `bytes` is a whole number of blocks.
TransferResult timedBareRead(NodeRig& rig, BareLink& bare, std::size_t bytes);

}  // namespace snbench
