// Where the bridge's messages go: the broker connection in the program, a
// recorder in the tests.
#pragma once

#include <string>
#include <string_view>

namespace snmqtt {

// An MQTT 5 requester's response topic and correlation data.
struct ReplyTo {
    std::string topic;
    std::string correlation;
};

class Outbox {
public:
    virtual ~Outbox() = default;
    // False when the message could not be queued (no connection).
    virtual bool publish(const std::string& topic, std::string_view payload, int qos,
                         bool retain) = 0;
    virtual bool reply(const ReplyTo& to, std::string_view payload) = 0;
    virtual bool connected() const = 0;
};

}  // namespace snmqtt
