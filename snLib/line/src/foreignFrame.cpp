#include "snline/foreignFrame.h"

namespace snline {

namespace {

constexpr std::size_t kRtuOverhead = 3;  // slave address in front, CRC behind

uint16_t crc16(const uint8_t* bytes, std::size_t length) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// What libmodbus reads of an answer of this function: the whole frame.
std::size_t frameLength(const uint8_t* frame) {
    const uint8_t function = frame[1];
    if ((function & 0x80) != 0) return 5;
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23:
            return 5u + frame[2];
        case 5:
        case 6:
        case 15:
        case 16:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

std::size_t receivedPduLength(const uint8_t* frame, int rc) {
    if (rc > static_cast<int>(kRtuOverhead)) return static_cast<std::size_t>(rc) - kRtuOverhead;
    if (rc != 0) return 0;
    const std::size_t length = frameLength(frame);
    if (length <= kRtuOverhead) return 0;
    const uint16_t crc = crc16(frame, length - 2);
    const bool intact = frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
    return intact ? length - kRtuOverhead : 0;
}

}  // namespace snline
