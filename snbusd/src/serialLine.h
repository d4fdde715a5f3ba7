// The one serial line the daemon owns: an RTU master context on it, opened
// again when the device comes back, and one transaction at a time.
#pragma once

#include <modbus.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "snline/owedAnswers.h"

namespace snbusd {

struct Outcome {
    enum class Kind {
        Answer,    // `pdu` is the node's answer (an exception of its own too)
        NoAnswer,  // nothing within the response timeout
        Garbled,   // bad CRC, another slave, a wrong length: dropped
        Gone,      // the device itself failed (unplugged); the line is down
    };
    Kind kind = Kind::NoAnswer;
    std::vector<uint8_t> pdu;
    int errorNumber = 0;  // what libmodbus said, for the log
    // When the request was given up on but its answer may still come: the
    // name of its debt in the book (snline::Debt::order).
    std::optional<uint64_t> debt;
};

class SerialLine {
public:
    SerialLine(std::string device, int baud, std::chrono::milliseconds responseTimeout);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    bool up() const { return ctx_ != nullptr; }
    // Opens the device if it is not open, holding its lock; false with
    // errno when it cannot (EBUSY: another program holds it).
    bool open();
    const std::string& device() const { return device_; }

    // One request to `unit` and its answer, kept in step with the nodes
    // by `book` (what each owes after a failure), waiting at most `timeout`
    // for it when that is shorter than the line's own (0: the line's own).
    Outcome transact(uint8_t unit, const std::vector<uint8_t>& pdu, snline::LineBook& book,
                     std::chrono::milliseconds timeout = {});
    // A broadcast write: sent, no answer awaited; Gone if the device failed.
    Outcome broadcast(const std::vector<uint8_t>& pdu);

private:
    bool send(uint8_t unit, const std::vector<uint8_t>& pdu, Outcome& outcome);
    void setResponseTimeout(std::chrono::milliseconds timeout);
    Outcome lost(int errorNumber);
    void close();

    std::string device_;
    int baud_;
    std::chrono::milliseconds responseTimeout_;
    modbus_t* ctx_ = nullptr;
    int lockFd_ = -1;  // holds the device's lock while the line is open
};

// True for errno values meaning the device itself is unusable (as opposed
// to a node that did not answer).
bool isDeviceGone(int errorNumber);

}  // namespace snbusd
