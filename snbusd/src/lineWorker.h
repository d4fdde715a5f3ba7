// The line's own thread: takes the requests in turn from the bus, one
// transaction at a time, and hands each answer back.
#pragma once

#include <chrono>

#include "bus.h"
#include "eventLog.h"
#include "lateAnswers.h"
#include "metrics.h"
#include "requestCheck.h"
#include "serialLine.h"

namespace snbusd {

class LineWorker {
public:
    LineWorker(SerialLine& line, Bus& bus, const Policy& policy, Metrics& metrics, EventLog& log)
        : line_(line),
          bus_(bus),
          policy_(policy),
          metrics_(metrics),
          log_(log),
          book_(metrics, log) {}

    // Until the bus is stopped; the transaction on the line is finished
    // first.  While the line is down it is opened again every second.
    void run();

private:
    // What a client is told, and whether a node said it.
    struct Reply {
        std::vector<uint8_t> pdu;
        bool fromNode = false;
    };

    Reply serve(const Job& job);
    Reply onTheLine(const Request& request, std::chrono::milliseconds timeout);
    Outcome transact(const Request& request, std::chrono::milliseconds timeout);
    void lineWentDown(int errorNumber);
    void tryToReopen();

    SerialLine& line_;
    Bus& bus_;
    const Policy& policy_;
    Metrics& metrics_;
    EventLog& log_;
    LateAnswerBook book_;
    bool reportedDown_ = false;
    std::chrono::steady_clock::time_point lastOpenAttempt_{};
};

}  // namespace snbusd
