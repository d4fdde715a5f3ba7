#include "nodeHub.h"

namespace snmqtt {

namespace {

// The owner rides in the ticket's top byte, so the poller needs no field.
constexpr int kOwnerShift = 56;
constexpr uint64_t kTicketMask = (uint64_t{1} << kOwnerShift) - 1;

}  // namespace

NodeHub::NodeHub(const std::vector<sncommon::NodeTarget>& targets, double interval,
                 std::function<void()> wake) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        auto node = std::make_unique<HubNode>();
        node->target = targets[i];
        node->bus = i;
        for (std::size_t j = 0; j < i; ++j)
            if (targets[j].device == targets[i].device) node->bus = nodes_[j]->bus;
        node->poller = std::make_unique<snpoll::NodePoller>("snmqtt", node->target, 1.0 / interval,
                                                            wake, wake);
        node->poller->onCommandDone(
            [this, i, wake](const snpoll::Command& c, bool done, const std::string& outcome) {
                FinishedCommand f{i, c, done, outcome};
                const auto owner = static_cast<CommandOwner>(c.ticket >> kOwnerShift);
                f.command.ticket = c.ticket & kTicketMask;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    finished_.emplace_back(owner, std::move(f));
                }
                wake();
            });
        nodes_.push_back(std::move(node));
    }
}

NodeHub::~NodeHub() { nodes_.clear(); }

int NodeHub::find(const std::string& name) const {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i]->target.name == name) return static_cast<int>(i);
    return -1;
}

bool NodeHub::submit(std::size_t node, snpoll::Command command, CommandOwner owner) {
    command.ticket =
        (command.ticket & kTicketMask) | (uint64_t{static_cast<uint8_t>(owner)} << kOwnerShift);
    return nodes_[node]->poller->submit(command);
}

std::vector<FinishedCommand> NodeHub::takeFinished(CommandOwner owner) {
    std::vector<FinishedCommand> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = finished_.begin(); it != finished_.end();) {
        if (it->first == owner) {
            taken.push_back(std::move(it->second));
            it = finished_.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

}  // namespace snmqtt
