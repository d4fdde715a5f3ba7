#include "clientTimeout.h"

namespace snbusd {

bool asksForClientTimeout(const Request& request) {
    return !request.pdu.empty() && request.pdu[0] == kSetClientTimeout;
}

ClientTimeoutAnswer answerClientTimeout(const Request& request, std::size_t inFlight) {
    ClientTimeoutAnswer answer;
    const std::vector<uint8_t>& pdu = request.pdu;
    const unsigned ms = pdu.size() == 3 ? (pdu[1] << 8u) | pdu[2] : 0u;
    if (ms == 0) {
        answer.pdu = exceptionPdu(kSetClientTimeout, kIllegalDataValue);
    } else if (inFlight != 0) {
        answer.pdu = exceptionPdu(kSetClientTimeout, kServerDeviceBusy);
    } else {
        answer.pdu = {kSetClientTimeout, 1};
        answer.timeout = std::chrono::milliseconds(ms);
    }
    return answer;
}

}  // namespace snbusd
