#include "blockPacking.h"

namespace snlib {

void packBlock(uint16_t* regs, const uint8_t* data, uint16_t n) {
    regs[0] = n;
    for (uint16_t i = 0; i + 1 < n; i = static_cast<uint16_t>(i + 2)) {
        regs[1 + i / 2] = static_cast<uint16_t>((data[i] << 8) | data[i + 1]);
    }
    if (n % 2 != 0) regs[1 + n / 2] = static_cast<uint16_t>(data[n - 1] << 8);
}

}  // namespace snlib
