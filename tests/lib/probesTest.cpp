// Which probe brings the line in step: never one whose answer an owed
// answer could pass for.
#include "snline/probes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class QuietBook : public snline::LineBook {
public:
    snline::OwedAnswers* owedBy(uint8_t) override { return nullptr; }
    void lateAnswer(uint8_t, std::chrono::milliseconds) override {}
};

std::vector<uint8_t> probeFor(const snline::OwedAnswers& owed) {
    const uint8_t* probe = snline::freeProbe(owed);
    return probe == nullptr ? std::vector<uint8_t>{}
                            : std::vector<uint8_t>(probe, probe + snline::kProbeSize);
}

void owe(snline::OwedAnswers& owed, std::vector<uint8_t> request) {
    QuietBook book;
    owed.owe(request.data(), request.size(), false, snline::StepClock::now(), book, 1);
}

TEST(Probes, TakeTheFirstShapeNoDebtCanHave) {
    snline::OwedAnswers owed;
    EXPECT_EQ(probeFor(owed), (std::vector<uint8_t>{3, 0, 15, 0, 1}));
    owe(owed, {3, 0, 21, 0, 1});  // register 21: its answer looks like register 15's
    EXPECT_EQ(probeFor(owed), (std::vector<uint8_t>{1, 0, 0, 0, 1}));
    owe(owed, {1, 0, 2, 0, 1});  // a coil read: its answer looks like coil 0's
    EXPECT_EQ(probeFor(owed), (std::vector<uint8_t>{4, 0, 0, 0, 1}));
}

// The node refuses input register and discrete input reads with an
// exception, which names no length: such a probe is no probe while a
// request of its function is owed, whatever that request's length.
TEST(Probes, ARefusedProbeIsNotSentWhileItsFunctionIsOwed) {
    snline::OwedAnswers owed;
    owe(owed, {3, 0, 21, 0, 1});
    owe(owed, {1, 0, 2, 0, 1});
    owe(owed, {4, 0, 8, 0, 3});  // a client's input registers, of another length
    EXPECT_EQ(probeFor(owed), (std::vector<uint8_t>{2, 0, 0, 0, 1}));
    owe(owed, {2, 0, 8, 0, 16});
    EXPECT_EQ(probeFor(owed), (std::vector<uint8_t>{3, 0, 31, 0, 2}));
}

TEST(Probes, NoneWhenEveryShapeIsOwed) {
    snline::OwedAnswers owed;
    owe(owed, {1, 0, 2, 0, 1});
    owe(owed, {2, 0, 2, 0, 1});
    owe(owed, {4, 0, 2, 0, 1});
    for (uint8_t count = 1; count <= 8; ++count) owe(owed, {3, 0, 40, 0, count});
    EXPECT_TRUE(probeFor(owed).empty());
}

}  // namespace
