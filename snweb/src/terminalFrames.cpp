#include "terminalFrames.h"

#include <cstring>
#include <string>

namespace snweb {

namespace {

TerminalFrame notice(const std::string& text, uint8_t* out) {
    std::memcpy(out, text.data(), text.size());
    return {text.size(), true};
}

const char* truth(bool value) { return value ? "true" : "false"; }

}  // namespace

TerminalFrame nextTerminalFrame(const TerminalFeed& feed, TerminalPage& page, bool typing,
                                bool reading, uint8_t* out, std::size_t room) {
    if (!page.greeted) {
        page.greeted = true;
        return notice(std::string("{\"typing\":") + truth(typing) + "}", out);
    }
    // A page that only looks reads nothing from the node itself: it is told
    // whether a page that types keeps the port read.
    if (!typing && page.toldReading != static_cast<int>(reading)) {
        page.toldReading = reading;
        return notice(std::string("{\"reading\":") + truth(reading) + "}", out);
    }
    FeedCursor ahead = page.cursor;
    const FeedRead read = feed.read(ahead, out, room);
    if (read.missed != 0) {
        page.cursor.position += read.missed;  // the bytes themselves come next time
        return notice("{\"missed\":" + std::to_string(read.missed) + "}", out);
    }
    page.cursor = ahead;
    return {read.length, false};
}

}  // namespace snweb
