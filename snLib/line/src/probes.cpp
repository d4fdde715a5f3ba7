#include "snline/probes.h"

#include "snline/pduShape.h"

namespace snline {

namespace {

// Its serial number register, power output 0's coil, the input registers
// and discrete inputs (answered with an exception), and its analog values,
// 2 to 8 at once for answers of other lengths.
constexpr uint8_t kProbes[][kProbeSize] = {{3, 0, 15, 0, 1}, {1, 0, 0, 0, 1},  {4, 0, 0, 0, 1},
                                           {2, 0, 0, 0, 1},  {3, 0, 31, 0, 2}, {3, 0, 31, 0, 3},
                                           {3, 0, 31, 0, 4}, {3, 0, 31, 0, 5}, {3, 0, 31, 0, 6},
                                           {3, 0, 31, 0, 7}, {3, 0, 31, 0, 8}};

// The node refuses these with an exception, and an exception names no
// length: one would pass for the answer of any owed request of the same
// function, and the probe would never be taken as answered.
bool answeredWithAnException(const uint8_t* probe) { return probe[0] == 2 || probe[0] == 4; }

}  // namespace

const uint8_t* freeProbe(const OwedAnswers& owed) {
    for (const auto& probe : kProbes) {
        if (answeredWithAnException(probe) && owed.owes(probe[0]) != nullptr) continue;
        if (!owed.owesShape(probe[0], readAnswerLength(probe, sizeof probe))) return probe;
    }
    return nullptr;
}

}  // namespace snline
