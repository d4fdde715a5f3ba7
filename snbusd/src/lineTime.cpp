#include "lineTime.h"

#include <cstdint>

#include "snline/pduShape.h"

namespace snbusd {

namespace {

constexpr double kBitsPerChar = 10;    // 8N1
constexpr double kSilenceChars = 3.5;  // ends each frame
constexpr double kRtuChars = 3;        // slave address and CRC around the PDU

std::size_t answerLength(const Request& request) {
    if (request.pdu.empty()) return 2;
    if (const std::size_t read = snline::readAnswerLength(request.pdu.data(), request.pdu.size()))
        return read;
    switch (request.pdu[0]) {
        case 5:
        case 6:
        case 15:
        case 16:
            return 5;  // function, address and value or count
        case 22:
            return 7;  // the echo
        default:
            return 2;  // an exception
    }
}

double frameChars(std::size_t pduLength) {
    return static_cast<double>(pduLength) + kRtuChars + kSilenceChars;
}

}  // namespace

std::chrono::nanoseconds lineTime(const Request& request, int baud) {
    double chars = frameChars(request.pdu.size());
    if (request.unit != 0) chars += frameChars(answerLength(request));
    return std::chrono::nanoseconds(static_cast<int64_t>(chars * kBitsPerChar * 1e9 / baud));
}

}  // namespace snbusd
