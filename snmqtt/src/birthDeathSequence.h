// The edge node's bdSeq: one more (modulo 256) for every connection to the
// broker, kept in a file of the state directory so that a restarted
// program does not start again from a number its last NDEATH carried.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sparkplugTopics.h"

namespace snmqtt {

class BirthDeathSequence {
public:
    // Takes the number after the one kept (0 when none is) and keeps it:
    // throws std::runtime_error, with a sentence, when the directory
    // cannot hold it.  `log` hears what goes wrong later.
    BirthDeathSequence(const std::string& stateDir, const EdgeNodeId& id,
                       std::function<void(const std::string&)> log);

    // The number of the connection being made now.
    uint8_t current() const { return current_; }
    // For each attempt to connect: the first takes the number reserved at
    // start, each later one the next.  Kept before it is used; a failure to
    // keep it is logged and the count goes on.
    uint8_t next();

    const std::string& path() const { return path_; }

private:
    bool keep(uint8_t value, std::string& why) const;

    std::string path_;
    std::function<void(const std::string&)> log_;
    uint8_t current_ = 0;
    bool reserved_ = true;  // current_ not yet used by an attempt
};

// Where state is kept when no --state-dir is given: systemd's
// StateDirectory (the first when it names several), else /var/lib/snmqtt.
std::string defaultStateDirectory();

}  // namespace snmqtt
