#include "snline/pduShape.h"

#include <algorithm>

namespace snline {

namespace {

uint16_t word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Data bytes a read answer carries for the request (the quantity read is
// at the same place in functions 1 to 4 and 23).
std::size_t readAnswerBytes(const uint8_t* request) {
    const std::size_t quantity = word(&request[3]);
    if (request[0] == 1 || request[0] == 2) return (quantity + 7) / 8;
    return 2 * quantity;
}

}  // namespace

std::size_t requestLength(const uint8_t* pdu, std::size_t size) {
    if (size == 0) return 0;
    switch (pdu[0]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            return 5;
        case 22:
            return 7;
        case 15:
        case 16:
            return size >= 6 ? 6u + pdu[5] : 6;
        case 23:
            return size >= 10 ? 10u + pdu[9] : 10;
        default:
            return 0;
    }
}

bool answers(const uint8_t* request, std::size_t requestSize, const uint8_t* answer,
             std::size_t answerSize) {
    // Only a request of its function's shape is ever sent; any other has no
    // answer to fit.
    if (answerSize == 0 || requestSize == 0 || requestSize != requestLength(request, requestSize))
        return false;
    const uint8_t function = request[0];
    if (answer[0] == (function | 0x80)) return answerSize == 2;
    if (answer[0] != function) return false;
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23: {
            const std::size_t bytes = readAnswerBytes(request);
            return answerSize == 2 + bytes && answer[1] == bytes;
        }
        case 5:
        case 6:
        case 22:
            return answerSize == requestSize && std::equal(answer, answer + answerSize, request);
        case 15:
        case 16:
            return answerSize == 5 && std::equal(answer, answer + 5, request);
        default:
            return false;
    }
}

std::size_t readAnswerLength(const uint8_t* request, std::size_t size) {
    const bool read = (request[0] >= 1 && request[0] <= 4) || request[0] == 23;
    if (!read || size != requestLength(request, size)) return 0;
    return 2 + readAnswerBytes(request);
}

}  // namespace snline
