#include "numberedStream.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace sntest {

namespace {

constexpr std::size_t kLine = 7;  // six digits and a line feed

// Fewest single-byte deletions and insertions turning `a` into `b`
// (Myers): quick while they are few, as they are when a stream is nearly
// whole.
std::size_t editDistance(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const auto n = static_cast<long>(a.size()), m = static_cast<long>(b.size());
    const long most = n + m;
    std::vector<long> reach(static_cast<std::size_t>(2 * most + 2), 0);
    const auto at = [&](long k) -> long& { return reach[static_cast<std::size_t>(k + most)]; };
    for (long d = 0; d <= most; ++d) {
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            long y = x - k;
            while (x < n && y < m &&
                   a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
                ++x;
                ++y;
            }
            at(k) = x;
            if (x >= n && y >= m) return static_cast<std::size_t>(d);
        }
    }
    return static_cast<std::size_t>(most);
}

// The line's number, or -1 when it is not six digits.
long numberOf(const uint8_t* piece, std::size_t length) {
    if (length != kLine - 1) return -1;
    long number = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (piece[i] < '0' || piece[i] > '9') return -1;
        number = number * 10 + (piece[i] - '0');
    }
    return number;
}

}  // namespace

std::vector<uint8_t> numberedLines(std::size_t lines) {
    std::vector<uint8_t> out;
    out.reserve(lines * kLine);
    char line[32];
    for (std::size_t i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "%06zu\n", i);
        out.insert(out.end(), line, line + kLine);
    }
    return out;
}

StreamCheck checkNumbered(const std::vector<uint8_t>& received, std::size_t lines) {
    StreamCheck check;
    std::vector<int> seen(lines, 0);
    long highest = -1;
    auto start = received.begin();
    while (start != received.end()) {
        const auto end = std::find(start, received.end(), '\n');
        const long number = numberOf(&*start, static_cast<std::size_t>(end - start));
        if (end == received.end() || number < 0 || number >= static_cast<long>(lines)) {
            ++check.garbled;
        } else {
            ++check.lines;
            if (seen[static_cast<std::size_t>(number)]++ > 0)
                ++check.repeated;
            else if (number < highest)
                ++check.outOfOrder;
            highest = std::max(highest, number);
        }
        start = end == received.end() ? end : end + 1;
    }
    check.lost = static_cast<std::size_t>(std::count(seen.begin(), seen.end(), 0));
    const std::vector<uint8_t> sent = numberedLines(lines);
    const std::size_t edits = editDistance(sent, received);
    // Deletions less insertions is the difference in length.
    check.lostBytes = (edits + sent.size() - received.size()) / 2;
    check.addedBytes = edits - check.lostBytes;
    return check;
}

bool endsNumbered(const std::vector<uint8_t>& received, std::size_t lines) {
    if (lines == 0) return true;
    char last[32];
    std::snprintf(last, sizeof last, "%06zu\n", lines - 1);
    return received.size() >= kLine && std::equal(last, last + kLine, received.end() - kLine);
}

Exchanged exchangeNumbered(SerialClient& serial, std::size_t lines,
                           std::chrono::milliseconds stall) {
    Exchanged out;
    std::thread writer([&] { out.sentAll = serial.writeAll(numberedLines(lines), stall); });
    out.received = serial.readUntil(
        [lines](const std::vector<uint8_t>& so) { return endsNumbered(so, lines); }, stall);
    writer.join();
    return out;
}

std::string StreamCheck::describe() const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "%zu lines whole, %zu lost, %zu repeated, %zu out of order, %zu garbled "
                  "pieces; %zu bytes lost and %zu added",
                  lines, lost, repeated, outOfOrder, garbled, lostBytes, addedBytes);
    return text;
}

}  // namespace sntest
