// Text from a broker or a command line shown back in a log line or an
// error: whatever bytes it holds, the line stays one readable line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace snmqtt {

// `text` with every byte outside printable ASCII, and '\\', written as \xNN,
// cut to about `most` characters ("..." then ends it).
std::string printableExcerpt(std::string_view text, std::size_t most);

}  // namespace snmqtt
