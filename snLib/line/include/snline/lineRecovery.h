// Recovery from a failure on a Modbus line.  After a timeout or a garbled
// answer, the rest of a late or torn answer may still be on its way; it is
// let in and dropped, so that it is never taken for the next answer.  The
// library and the bus daemon share this one piece, so both recover alike.
#pragma once

#include <modbus.h>

namespace snline {

// True for the errno values of a failure on the line itself, after which
// answer bytes may still arrive (a timeout, a bad CRC, another slave's or a
// malformed answer, a reset connection).
bool isLineFailure(int errorNumber);

// With rc < 0 and errno a line failure: drops what comes in until the line
// has been silent for two byte timeouts.  Returns rc, with errno as it was.
int recoverFromLineFailure(modbus_t* ctx, int rc);

}  // namespace snline
