// The Modbus CRC-16 of the emulator's framing, against values worked out
// independently of it.
#include "rtuFrame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using snsim::detail::crc16;
using snsim::detail::crcOk;
using snsim::detail::setCrc;

TEST(RtuCrc, MatchesTheStandardCheckValueAndGoesLowByteFirst) {
    const char* check = "123456789";
    EXPECT_EQ(crc16(reinterpret_cast<const uint8_t*>(check), std::strlen(check)), 0x4B37);
    EXPECT_EQ(crc16(nullptr, 0), 0xFFFF);

    // Read one holding register at 0 from slave 1: 01 03 00 00 00 01 84 0A.
    std::vector<uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    setCrc(frame);
    EXPECT_EQ(frame, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A}));
    EXPECT_TRUE(crcOk(frame.data(), frame.size()));
    std::swap(frame[6], frame[7]);
    EXPECT_FALSE(crcOk(frame.data(), frame.size())) << "high byte first is wrong";

    // An answer carrying the value 200: 01 03 02 00 C8 B9 D2.
    std::vector<uint8_t> answer{0x01, 0x03, 0x02, 0x00, 0xC8, 0xFF, 0xFF};
    setCrc(answer);
    EXPECT_EQ(answer[5], 0xB9);
    EXPECT_EQ(answer[6], 0xD2);
}

TEST(RtuCrc, EverySingleFlippedBitIsCaught) {
    std::vector<uint8_t> frame{0x11, 0x06, 0x00, 0x01, 0x00, 0x03, 0x9A, 0x9B};
    ASSERT_TRUE(crcOk(frame.data(), frame.size()));
    for (std::size_t i = 0; i < frame.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            auto spoilt = frame;
            spoilt[i] = static_cast<uint8_t>(spoilt[i] ^ (1 << bit));
            EXPECT_FALSE(crcOk(spoilt.data(), spoilt.size())) << "byte " << i << " bit " << bit;
        }
    }
    EXPECT_FALSE(crcOk(frame.data(), 3)) << "too short to be a frame";
}

}  // namespace
