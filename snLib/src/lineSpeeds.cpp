#include "lineSpeeds.h"

#include <algorithm>
#include <array>

namespace snlib {

bool isSupportedLineSpeed(int speed) {
    static constexpr std::array kSpeeds{110,     300,     600,     1200,    2400,    4800,
                                        9600,    19200,   38400,   57600,   115200,  230400,
                                        460800,  500000,  576000,  921600,  1000000, 1152000,
                                        1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return std::find(kSpeeds.begin(), kSpeeds.end(), speed) != kSpeeds.end();
}

}  // namespace snlib
