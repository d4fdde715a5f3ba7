// What a terminal page is sent next, in order: whether it may type, then,
// for a page that may not, whether anybody reads the port (whenever that
// changes), then how many bytes it missed, then the node's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nodes.h"

namespace snweb {

// Room enough for any notice.
inline constexpr std::size_t kLongestNotice = 64;

// Where one page is in its port's stream and what it was told.
struct TerminalPage {
    FeedCursor cursor;
    bool greeted = false;
    int toldReading = -1;  // -1: not yet; else whether a reader was there
};

struct TerminalFrame {
    std::size_t length = 0;  // 0: nothing to send now
    bool notice = false;     // JSON text; otherwise the node's bytes
};

// Writes the page's next message into `out` (room >= kLongestNotice).
// `reading`: a page that types has the port's relay running.
TerminalFrame nextTerminalFrame(const TerminalFeed& feed, TerminalPage& page, bool typing,
                                bool reading, uint8_t* out, std::size_t room);

}  // namespace snweb
