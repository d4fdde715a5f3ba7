#include "mbapFrame.h"

namespace snbusd {

namespace {

uint16_t word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void putWord(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value & 0xFF));
}

}  // namespace

Frame takeFrame(const uint8_t* data, std::size_t size) {
    Frame frame;
    if (size < kMbapHeaderSize) return frame;
    const uint16_t protocol = word(data + 2);
    const uint16_t length = word(data + 4);  // unit id and PDU
    if (protocol != 0) {
        frame.status = FrameStatus::Bad;
        frame.error = "protocol id " + std::to_string(protocol) + " is not Modbus";
        return frame;
    }
    if (length < 2 || length > 254) {
        frame.status = FrameStatus::Bad;
        frame.error = "length field " + std::to_string(length) + " outside 2 to 254";
        return frame;
    }
    const std::size_t total = kMbapHeaderSize - 1 + length;
    if (size < total) return frame;
    frame.status = FrameStatus::Complete;
    frame.consumed = total;
    frame.request.transaction = word(data);
    frame.request.unit = data[6];
    frame.request.pdu.assign(data + kMbapHeaderSize, data + total);
    return frame;
}

std::vector<uint8_t> answerFrame(const Request& request, const std::vector<uint8_t>& pdu) {
    std::vector<uint8_t> out;
    out.reserve(kMbapHeaderSize + pdu.size());
    putWord(out, request.transaction);
    putWord(out, 0);
    putWord(out, static_cast<uint16_t>(pdu.size() + 1));
    out.push_back(request.unit);
    out.insert(out.end(), pdu.begin(), pdu.end());
    return out;
}

std::vector<uint8_t> exceptionPdu(uint8_t function, uint8_t code) {
    return {static_cast<uint8_t>(function | 0x80), code};
}

}  // namespace snbusd
