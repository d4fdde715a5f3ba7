#include "rtuFrame.h"

namespace snsim::detail {

uint16_t crc16(const uint8_t* data, std::size_t len) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < len; ++i) {
        crc = static_cast<uint16_t>(crc ^ data[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

bool crcOk(const uint8_t* frame, std::size_t len) {
    if (len < 4) return false;
    const uint16_t c = crc16(frame, len - 2);
    return frame[len - 2] == (c & 0xFF) && frame[len - 1] == (c >> 8);
}

void setCrc(std::vector<uint8_t>& frame) {
    if (frame.size() < 2) return;
    const uint16_t c = crc16(frame.data(), frame.size() - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(c & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(c >> 8);
}

FrameLength requestLength(const uint8_t* buf, std::size_t have, std::size_t& length) {
    if (have < 2) return FrameLength::NeedMore;
    switch (buf[1]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            length = 8;
            return FrameLength::Known;
        case 15:
        case 16:
            if (have < 7) return FrameLength::NeedMore;
            length = 9u + buf[6];
            return FrameLength::Known;
        case 23:
            if (have < 11) return FrameLength::NeedMore;
            length = 13u + buf[10];
            return FrameLength::Known;
        default:
            return FrameLength::Unknown;
    }
}

namespace {

int word(const uint8_t* p) { return (p[0] << 8) | p[1]; }

// The register values behind the byte count at f[countAt], when the count
// agrees with the quantity and the frame (`body` bytes before the CRC)
// holds them all.
void takeRegisters(Request& r, const uint8_t* f, std::size_t countAt, std::size_t body) {
    const std::size_t bc = f[countAt];
    r.wellFormed = bc == static_cast<std::size_t>(2 * r.quantity) && countAt + 1 + bc <= body;
    for (int i = 0; i < r.quantity && r.wellFormed; ++i)
        r.values.push_back(static_cast<uint16_t>(word(f + countAt + 1 + 2 * i)));
}

}  // namespace

Request parseRequest(const uint8_t* f, std::size_t len) {
    Request r;
    r.slave = f[0];
    r.function = f[1];
    const std::size_t body = len >= 2 ? len - 2 : 0;  // without CRC
    switch (r.function) {
        case 1:
        case 2:
        case 3:
        case 4:
            r.address = word(f + 2);
            r.quantity = word(f + 4);
            break;
        case 5:
            r.address = word(f + 2);
            r.quantity = 1;
            r.values.push_back(word(f + 4) == 0xFF00 ? 1 : 0);
            r.wellFormed = word(f + 4) == 0xFF00 || word(f + 4) == 0;
            break;
        case 6:
            r.address = word(f + 2);
            r.quantity = 1;
            r.values.push_back(static_cast<uint16_t>(word(f + 4)));
            break;
        case 15: {
            r.address = word(f + 2);
            r.quantity = word(f + 4);
            const std::size_t bc = f[6];
            r.wellFormed = bc == static_cast<std::size_t>((r.quantity + 7) / 8) && 7 + bc <= body;
            for (int i = 0; i < r.quantity && r.wellFormed; ++i)
                r.values.push_back((f[7 + i / 8] >> (i % 8)) & 1);
            break;
        }
        case 16: {
            r.address = word(f + 2);
            r.quantity = word(f + 4);
            takeRegisters(r, f, 6, body);
            break;
        }
        case 23: {
            r.readAddress = word(f + 2);
            r.readQuantity = word(f + 4);
            r.address = word(f + 6);
            r.quantity = word(f + 8);
            takeRegisters(r, f, 10, body);
            break;
        }
        default:
            break;
    }
    return r;
}

}  // namespace snsim::detail
