// What the bridge's parts would have sent to a broker, in order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "outbox.h"

namespace sntest {

struct Recorder : snmqtt::Outbox {
    bool publish(const std::string& topic, std::string_view payload, int, bool retain) override {
        sent.push_back(topic);
        last[topic] = std::string(payload);
        if (topic.ends_with("/rx")) received += payload;
        retained = retained && retain;
        return up;
    }
    bool reply(const snmqtt::ReplyTo& to, std::string_view payload) override {
        replies.push_back(to.topic + " " + to.correlation + " " + std::string(payload));
        return up;
    }
    bool connected() const override { return up; }
    std::vector<std::string> sent;  // topics, in order
    std::map<std::string, std::string> last;
    std::string received;  // what came on the rx topics, all told
    std::vector<std::string> replies;
    bool retained = true;
    bool up = true;
};

}  // namespace sntest
