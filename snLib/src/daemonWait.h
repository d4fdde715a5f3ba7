// Over TCP the bus daemon keeps the line in step and settles a late
// answer there before it answers; so the caller's response timeout is the
// wait on the line, told to the daemon (its function 0x41), and the
// library waits on the connection for the daemon's own answer: that wait
// with the settling, and the queue of other clients before it.
#pragma once

#include "snLib.h"

#include <modbus.h>

#include <cstdint>

namespace snlib::daemon {

// The caller's response timeout of a TCP link, in microseconds.  Safe
// outside the lock (the timeouts are set there).
void setLineWait(const SensorNode& entry, uint64_t us);
uint64_t lineWait(const SensorNode& entry);
// A new connection has not been told yet.
void connected(const SensorNode& entry);

// Under the lock, before a request on a connected TCP link: tells the
// daemon the line wait when the connection has not heard it.  A gateway
// that refuses the function, or does not answer it soon, keeps its own.
void tellIfNew(modbus_t* ctx);

}  // namespace snlib::daemon
