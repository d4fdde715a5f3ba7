// What a late answer, or a debt that ended without one, means for the
// virtual ports of the node it concerns: a receive block the node handed
// out is kept for the port's next read, a transmit chunk's fate becomes
// known, and what never becomes known is counted.
#pragma once

#include "libState.h"
#include "snline/owedAnswers.h"

namespace snlib {

// The debts of every node on one serial device, and their news.  Under
// the lock.
class DeviceBook : public snline::LineBook {
public:
    // `entry`: the entry whose context talks on the line (nullptr for a
    // context outside the table, whose debts are kept for the call only).
    DeviceBook(SensorNode* entry, modbus_t* ctx) : entry_(entry), ctx_(ctx) {}

    snline::OwedAnswers* owedBy(uint8_t slave) override;
    void lateAnswer(uint8_t slave, std::chrono::milliseconds afterTimeout) override;
    void paid(uint8_t slave, const snline::Debt& debt, const uint8_t* pdu,
              std::size_t length) override;
    void unpaid(uint8_t slave, const snline::Debt& debt, snline::DebtEnd why) override;

private:
    SnSerial* portOf(uint8_t slave, const snline::Debt& debt, int blockOffset);

    SensorNode* entry_;
    modbus_t* ctx_;
};

}  // namespace snlib
