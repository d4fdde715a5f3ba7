#include "printableText.h"

namespace snmqtt {

std::string printableExcerpt(std::string_view text, std::size_t most) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = byte >= 0x20 && byte < 0x7F && c != '\\';
        const std::size_t width = plain ? 1 : 4;
        if (out.size() + width > most) return out + "...";
        if (plain) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

}  // namespace snmqtt
