#include "lineSpeeds.h"

#include <algorithm>
#include <array>

#include "snLimits.h"

namespace snlib {

bool isSupportedLineSpeed(int speed) {
    static constexpr std::array kSpeeds{SN_LINE_SPEEDS};
    return std::find(kSpeeds.begin(), kSpeeds.end(), speed) != kSpeeds.end();
}

}  // namespace snlib
