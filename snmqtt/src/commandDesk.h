// Who waits for which command, and what becomes of refusals: the first of
// each kind goes to the program's log, every one (up to a few a second) to
// the bridge's log topic, and a requester that gave a response topic gets
// its answer there.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "outbox.h"
#include "publishPolicy.h"
#include "topics.h"

namespace snmqtt {

class CommandDesk {
public:
    CommandDesk(const Topics& topics, Outbox& out, std::string logName);

    // `kind` names the refusal's kind ("bad payload", "unknown node").
    void refuse(const std::string& kind, const std::string& sentence,
                const std::optional<ReplyTo>& replyTo, double now);
    // A ticket for a command that goes to a poller; its requester, if any,
    // is answered by finished().
    uint64_t ticket(const std::optional<ReplyTo>& replyTo);
    void finished(uint64_t ticket, const std::string& description, bool done,
                  const std::string& outcome);
    // The log topic's messages that the cap held back, told in one.
    void flush(double now);

    // A line on the bridge's log topic (a command that failed at the node).
    void log(const std::string& sentence, double now);

private:
    const Topics& topics_;
    Outbox& out_;
    const std::string logName_;
    std::set<std::string> kindsLogged_;
    std::map<uint64_t, ReplyTo> waiting_;
    uint64_t nextTicket_ = 1;
    PublishBudget logBudget_;
    uint64_t logHeldBack_ = 0;
};

}  // namespace snmqtt
