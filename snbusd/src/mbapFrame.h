// Modbus TCP framing (the MBAP header): requests taken from a client's byte
// stream, answers built for it.  Pure: no I/O, so it can be fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace snbusd {

struct Request {
    uint16_t transaction = 0;  // echoed in the answer
    uint8_t unit = 0;          // the slave address on the line; 0 broadcasts
    std::vector<uint8_t> pdu;  // function code and data
};

enum class FrameStatus {
    Complete,  // `request` holds it, `consumed` bytes of the stream were it
    NeedMore,  // the stream holds only part of a frame
    Bad,       // not Modbus TCP: `error` says why; the connection must go
};

struct Frame {
    FrameStatus status = FrameStatus::NeedMore;
    std::size_t consumed = 0;
    Request request;
    std::string error;
};

inline constexpr std::size_t kMbapHeaderSize = 7;
inline constexpr std::size_t kMaxFrameSize = kMbapHeaderSize + 253;  // length field 254 at most

// The first frame of `size` bytes at `data`.  A protocol id other than 0
// or a length field outside 2 to 254 is Bad.
Frame takeFrame(const uint8_t* data, std::size_t size);

// The answer to `request`: its transaction id and unit, then `pdu`.
std::vector<uint8_t> answerFrame(const Request& request, const std::vector<uint8_t>& pdu);

// An exception answer's PDU: the function with its high bit set, the code.
std::vector<uint8_t> exceptionPdu(uint8_t function, uint8_t code);

// Exception codes the daemon answers with itself.
inline constexpr uint8_t kIllegalFunction = 0x01;
inline constexpr uint8_t kIllegalDataValue = 0x03;
inline constexpr uint8_t kGatewayPathUnavailable = 0x0A;
inline constexpr uint8_t kGatewayTargetFailed = 0x0B;

}  // namespace snbusd
