// The libmosquitto handle a connection's settings make: MQTT v5, a session
// the broker keeps while we are away, the will, credentials and TLS.
#pragma once

#include "brokerConnection.h"

namespace snmqtt {

// Throws std::runtime_error, with a sentence, when the settings cannot
// work; the handle's callbacks get `userdata`.
mosquitto* makeBrokerHandle(const ConnectionSettings& settings, void* userdata);

}  // namespace snmqtt
