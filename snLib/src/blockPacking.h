// Byte data travels in register blocks: a count register, then two bytes a
// register with the earlier byte in the high half.
#pragma once

#include <cstdint>

namespace snlib {

// Byte position of a block's first data byte, behind the count register.
constexpr uint16_t kBlockDataStart = 2;

// Packs n bytes (n <= 240) behind a count register.  The filler half of an
// odd-length block is 0; nothing past data[n - 1] is read.
void packBlock(uint16_t* regs, const uint8_t* data, uint16_t n);

// Byte at position pos of a block, counted from the first byte of regs
// (so data starts at position 2).
inline uint8_t blockByte(const uint16_t* regs, uint16_t pos) {
    const uint16_t word = regs[pos / 2];
    return static_cast<uint8_t>((pos % 2 == 0) ? (word >> 8) : (word & 0xFF));
}

}  // namespace snlib
