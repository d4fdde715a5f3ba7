// Backslash escapes for bytes a shell argument cannot easily hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace snctl {

// \n \r \t \0 \\ and \xHH (two hex digits); other bytes pass unchanged.
// Throws UsageError for any other escape or a short \x.
std::vector<uint8_t> decodeEscapes(const std::string& text);

}  // namespace snctl
