// A register shown as hexadecimal, the one way every program shows it: 0x,
// then lower-case digits padded to the register's width ("0x0203").
#pragma once

#include <string>

namespace sncommon {

std::string hexText(unsigned long long value, int digits);

}  // namespace sncommon
