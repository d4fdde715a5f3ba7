// The nodes a program bridges, each read by a poller of its own, shared by
// the ways they are published (plain topics, Sparkplug).  A finished
// command goes back to whoever submitted it, on the loop's thread.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nodePoller.h"
#include "sncommon/nodeTarget.h"

namespace snmqtt {

struct HubNode {
    sncommon::NodeTarget target;
    std::unique_ptr<snpoll::NodePoller> poller;
    std::size_t bus = 0;  // the first node on the same device: they share its line
};

enum class CommandOwner : uint8_t { Topics = 0, Sparkplug = 1 };

struct FinishedCommand {
    std::size_t node = 0;
    snpoll::Command command;  // its ticket as the owner gave it
    bool done = false;
    std::string outcome;
};

class NodeHub {
public:
    // `wake` runs on poller threads: it must make the loop look soon.
    NodeHub(const std::vector<sncommon::NodeTarget>& targets, double interval,
            std::function<void()> wake);
    ~NodeHub();
    NodeHub(const NodeHub&) = delete;
    NodeHub& operator=(const NodeHub&) = delete;

    std::size_t size() const { return nodes_.size(); }
    HubNode& at(std::size_t index) { return *nodes_[index]; }
    const HubNode& at(std::size_t index) const { return *nodes_[index]; }
    // -1 when no node has that name.
    int find(const std::string& name) const;
    // False when the node has too many commands waiting.
    bool submit(std::size_t node, snpoll::Command command, CommandOwner owner);
    std::vector<FinishedCommand> takeFinished(CommandOwner owner);

private:
    std::vector<std::unique_ptr<HubNode>> nodes_;
    std::mutex mutex_;
    std::deque<std::pair<CommandOwner, FinishedCommand>> finished_;
};

}  // namespace snmqtt
