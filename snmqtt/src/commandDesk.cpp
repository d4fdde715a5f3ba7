#include "commandDesk.h"

#include <cstdio>

namespace snmqtt {

namespace {

constexpr double kLogMessagesASecond = 10;

}  // namespace

CommandDesk::CommandDesk(const Topics& topics, Outbox& out, std::string logName)
    : topics_(topics), out_(out), logName_(std::move(logName)), logBudget_(kLogMessagesASecond) {}

void CommandDesk::refuse(const std::string& kind, const std::string& sentence,
                         const std::optional<ReplyTo>& replyTo, double now) {
    if (kindsLogged_.insert(kind).second)
        std::fprintf(stderr, "%s: refused: %s (further refusals of this kind go to %s only)\n",
                     logName_.c_str(), sentence.c_str(), topics_.bridgeLog().c_str());
    log("refused: " + sentence, now);
    if (replyTo) out_.reply(*replyTo, "refused: " + sentence);
}

void CommandDesk::log(const std::string& sentence, double now) {
    if (!logBudget_.take(now)) {
        ++logHeldBack_;
        return;
    }
    out_.publish(topics_.bridgeLog(), sentence, 1, false);
}

void CommandDesk::flush(double now) {
    if (logHeldBack_ == 0 || !logBudget_.take(now)) return;
    out_.publish(topics_.bridgeLog(),
                 std::to_string(logHeldBack_) + " more messages of the log were not published", 1,
                 false);
    logHeldBack_ = 0;
}

uint64_t CommandDesk::ticket(const std::optional<ReplyTo>& replyTo) {
    const uint64_t ticket = nextTicket_++;
    if (replyTo) waiting_[ticket] = *replyTo;
    return ticket;
}

void CommandDesk::finished(uint64_t ticket, const std::string& description, bool done,
                           const std::string& outcome) {
    const auto found = waiting_.find(ticket);
    if (found == waiting_.end()) return;
    out_.reply(found->second, description + ": " + (done ? "done" : outcome));
    waiting_.erase(found);
}

}  // namespace snmqtt
