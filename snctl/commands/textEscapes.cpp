#include "textEscapes.h"

#include "failure.h"
#include "numberParsing.h"

namespace snctl {

namespace {

// The byte for a one-letter escape, or -1.
int simpleEscape(char letter) {
    switch (letter) {
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case '0':
            return 0;
        case '\\':
            return '\\';
        default:
            return -1;
    }
}

}  // namespace

std::vector<uint8_t> decodeEscapes(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes.push_back(static_cast<uint8_t>(text[i]));
            continue;
        }
        if (i + 1 >= text.size()) throw UsageError("text ends in a lone backslash (write \\\\)");
        const char letter = text[++i];
        if (letter == 'x') {
            const bool twoDigitsFollow = i + 2 < text.size();
            const auto value =
                twoDigitsFollow ? parseInteger("0x" + text.substr(i + 1, 2), 0, 255) : std::nullopt;
            if (!value) throw UsageError("\\x needs two hex digits");
            bytes.push_back(static_cast<uint8_t>(*value));
            i += 2;
            continue;
        }
        const int byte = simpleEscape(letter);
        if (byte < 0)
            throw UsageError(std::string("unknown escape \\") + letter +
                             " (\\n \\r \\t \\0 \\\\ \\xHH)");
        bytes.push_back(static_cast<uint8_t>(byte));
    }
    return bytes;
}

}  // namespace snctl
