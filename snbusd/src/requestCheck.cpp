#include "requestCheck.h"

#include "snline/pduShape.h"

namespace snbusd {

namespace {

bool isRead(uint8_t function) { return function >= 1 && function <= 4; }

bool unitServed(uint8_t unit, const Policy& policy) {
    if (policy.units.empty()) return true;
    return unit < policy.units.size() && policy.units[unit];
}

}  // namespace

uint8_t refusal(const Request& request, const Policy& policy) {
    const std::vector<uint8_t>& pdu = request.pdu;
    const std::size_t length = snline::requestLength(pdu.data(), pdu.size());
    if (length == 0) return kIllegalFunction;
    if (policy.readOnly && !isRead(pdu[0])) return kIllegalFunction;
    if (pdu.size() != length) return kIllegalDataValue;
    if (request.unit == 0) {
        // A broadcast reaches every unit, so only where all are served.
        if (!policy.units.empty()) return kGatewayTargetFailed;
        if (isRead(pdu[0]) || pdu[0] == 23) return kIllegalFunction;
        return 0;
    }
    if (request.unit > 247 || !unitServed(request.unit, policy)) return kGatewayTargetFailed;
    return 0;
}

std::vector<uint8_t> broadcastAnswer(const std::vector<uint8_t>& request) {
    if (request[0] == 15 || request[0] == 16) return {request.begin(), request.begin() + 5};
    return request;
}

}  // namespace snbusd
