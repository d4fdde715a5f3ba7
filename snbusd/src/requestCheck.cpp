#include "requestCheck.h"

#include <algorithm>

namespace snbusd {

namespace {

uint16_t word(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

bool isRead(uint8_t function) { return function >= 1 && function <= 4; }

// The request length each function needs, or 0 for a function not carried.
std::size_t expectedLength(const std::vector<uint8_t>& pdu) {
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
            return pdu.size() >= 6 ? 6u + pdu[5] : 6;
        case 23:
            return pdu.size() >= 10 ? 10u + pdu[9] : 10;
        default:
            return 0;
    }
}

bool unitServed(uint8_t unit, const Policy& policy) {
    if (policy.units.empty()) return true;
    return unit < policy.units.size() && policy.units[unit];
}

// Data bytes a read answer carries for the request (the quantity read is
// at the same place in functions 1 to 4 and 23).
std::size_t readAnswerBytes(const std::vector<uint8_t>& request) {
    const std::size_t quantity = word(&request[3]);
    if (request[0] == 1 || request[0] == 2) return (quantity + 7) / 8;
    return 2 * quantity;
}

}  // namespace

uint8_t refusal(const Request& request, const Policy& policy) {
    const std::vector<uint8_t>& pdu = request.pdu;
    if (pdu.empty() || expectedLength(pdu) == 0) return kIllegalFunction;
    if (policy.readOnly && !isRead(pdu[0])) return kIllegalFunction;
    if (pdu.size() != expectedLength(pdu)) return kIllegalDataValue;
    if (request.unit == 0) {
        // A broadcast reaches every unit, so only where all are served.
        if (!policy.units.empty()) return kGatewayTargetFailed;
        if (isRead(pdu[0]) || pdu[0] == 23) return kIllegalFunction;
        return 0;
    }
    if (request.unit > 247 || !unitServed(request.unit, policy)) return kGatewayTargetFailed;
    return 0;
}

bool answers(const std::vector<uint8_t>& request, const uint8_t* answer, std::size_t size) {
    // Only a request that passed refusal() goes on the line; any other has
    // no answer to fit.
    if (size == 0 || request.empty() || request.size() != expectedLength(request)) return false;
    const uint8_t function = request[0];
    if (answer[0] == (function | 0x80)) return size == 2;
    if (answer[0] != function) return false;
    switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23: {
            const std::size_t bytes = readAnswerBytes(request);
            return size == 2 + bytes && answer[1] == bytes;
        }
        case 5:
        case 6:
        case 22:
            return size == request.size() && std::equal(answer, answer + size, request.begin());
        case 15:
        case 16:
            return size == 5 && std::equal(answer, answer + 5, request.begin());
        default:
            return false;
    }
}

std::vector<uint8_t> broadcastAnswer(const std::vector<uint8_t>& request) {
    if (request[0] == 15 || request[0] == 16) return {request.begin(), request.begin() + 5};
    return request;
}

}  // namespace snbusd
