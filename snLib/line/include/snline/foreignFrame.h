// A frame of a slave the context does not address.  libmodbus reads such a
// frame whole (by its function and byte count) but checks nothing and
// gives no length; a late answer of another slave on the same line must
// still be told for what it is, so its length and CRC are checked here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace snline {

// The PDU length of a frame libmodbus returned with `rc`: rc less the slave
// address and the CRC when libmodbus checked it (rc > 3); for an unchecked
// frame (rc 0), the length its function gives when its CRC is right; 0
// when it cannot be told.
std::size_t receivedPduLength(const uint8_t* frame, int rc);

}  // namespace snline
