// The shape of a Modbus request and of the answers that fit it: what a
// master on a line takes for the answer to its request, and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace snline {

// The length a request PDU of its function must have (for 15, 16 and 23
// from its byte count), or 0 for a function not carried (1 to 6, 15, 16,
// 22 and 23 are).
std::size_t requestLength(const uint8_t* pdu, std::size_t size);

// True when `answer` (a PDU) can be the answer to `request`: the same
// function (or its exception, with one code byte) and the length and byte
// count, or the echo, the function prescribes.
bool answers(const uint8_t* request, std::size_t requestSize, const uint8_t* answer,
             std::size_t answerSize);

// The length of the answer PDU a read (functions 1 to 4 and 23) is given
// when it is not refused; 0 for other functions.
std::size_t readAnswerLength(const uint8_t* request, std::size_t size);

}  // namespace snline
