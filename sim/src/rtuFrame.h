// Modbus RTU request framing: CRC, how long a request of a given function
// is, and decoding a complete request into the fields the log records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace snsim::detail {

inline constexpr std::size_t kMaxFrame = 256;  // RTU ADU limit

uint16_t crc16(const uint8_t* data, std::size_t len);
// True when the last two bytes of the frame are its CRC (low byte first).
bool crcOk(const uint8_t* frame, std::size_t len);
// Appends/overwrites the CRC of frame[0..len-2) in the last two bytes.
void setCrc(std::vector<uint8_t>& frame);

enum class FrameLength { NeedMore, Known, Unknown };
// Length of the request starting at buf, from its function code and byte
// count; Unknown for function codes of no fixed layout (framed by silence).
FrameLength requestLength(const uint8_t* buf, std::size_t have, std::size_t& length);

struct Request {
    int slave = 0;
    int function = 0;
    int address = 0;
    int quantity = 0;
    std::vector<uint16_t> values;  // registers written, or coils as 0/1
    int readAddress = -1;          // function 23
    int readQuantity = 0;
    bool wellFormed = true;  // byte count agrees with the quantity
};

Request parseRequest(const uint8_t* frame, std::size_t len);

}  // namespace snsim::detail
