#include "channelSettings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <vector>

#include "printableText.h"
#include "sncommon/integerParsing.h"
#include "sncommon/nodeTarget.h"
#include "topics.h"

namespace snmqtt {

namespace {

constexpr std::size_t kEchoedOption = 100;
constexpr long kMostCounts = 0xFFFF;

[[noreturn]] void refuse(const char* option, std::string_view text, const std::string& why) {
    throw std::invalid_argument(std::string(option) + " '" + printableExcerpt(text, kEchoedOption) +
                                "': " + why);
}

// As a node target's NAME, so the two can be matched byte for byte.
bool nodeName(std::string_view name) {
    return !name.empty() && name.size() <= sncommon::kLongestTargetName &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' ||
                      c == '-';
           });
}

// The bytes after a lead byte of UTF-8 that may follow it: the second one
// narrowed so that overlong forms and surrogates are refused.
bool continuation(unsigned char lead, std::size_t at, unsigned char byte) {
    if ((byte & 0xC0) != 0x80) return false;
    if (at != 1) return true;
    if (lead == 0xE0) return byte >= 0xA0;
    if (lead == 0xED) return byte <= 0x9F;
    if (lead == 0xF0) return byte >= 0x90;
    if (lead == 0xF4) return byte <= 0x8F;
    return true;
}

// Whole UTF-8 characters and no control characters: the text goes into
// JSON for Home Assistant, which takes nothing else.
bool plainText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        if (lead >= 0x20 && lead < 0x7F) length = 1;
        if (lead >= 0xC2 && lead <= 0xDF) length = 2;
        if (lead >= 0xE0 && lead <= 0xEF) length = 3;
        if (lead >= 0xF0 && lead <= 0xF4) length = 4;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if (!continuation(lead, k, static_cast<unsigned char>(text[i + k]))) return false;
        i += length;
    }
    return true;
}

std::optional<double> finiteNumber(std::string_view text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view text, char separator) {
    std::vector<std::string_view> found;
    for (;;) {
        const std::size_t at = text.find(separator);
        found.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return found;
        text.remove_prefix(at + 1);
    }
}

// "[NAME/]C", C 0-7 or, where `anyChannel`, '*' (channel -1).
std::pair<std::string, int> scopeOf(std::string_view scope, bool anyChannel, const char* option,
                                    std::string_view text) {
    std::string node;
    const std::size_t slash = scope.find('/');
    if (slash != std::string_view::npos) {
        node = std::string(scope.substr(0, slash));
        scope.remove_prefix(slash + 1);
        if (!nodeName(node))
            refuse(option, text, "NAME is 1 to 64 letters, digits, '.', '_' or '-'");
    }
    if (anyChannel && scope == "*") return {node, -1};
    const std::optional<long> channel = sncommon::parseInteger(scope, 0, kChannels - 1);
    if (!channel)
        refuse(option, text,
               std::string("the channel is 0-") + std::to_string(kChannels - 1) +
                   (anyChannel ? " or '*'" : ""));
    return {node, static_cast<int>(*channel)};
}

ChannelLook lookOf(const std::vector<std::string_view>& parts, std::string_view text) {
    const char* option = "--channel";
    ChannelLook look{std::string(parts[1]), parts.size() > 2 ? std::string(parts[2]) : ""};
    if (look.label.empty() || look.label.size() > kLongestLabel || !plainText(look.label))
        refuse(option, text, "LABEL is 1 to 64 bytes of UTF-8 text without ':'");
    if (look.unit.size() > kLongestUnit || !plainText(look.unit))
        refuse(option, text, "UNIT is at most 16 bytes of UTF-8 text without ':'");
    if (parts.size() > 3 && !parts[3].empty()) {
        const std::optional<double> scale = finiteNumber(parts[3]);
        if (!scale || *scale == 0) refuse(option, text, "SCALE is a number other than 0");
        look.scale = *scale;
    }
    if (parts.size() > 4 && !parts[4].empty()) {
        const std::optional<double> offset = finiteNumber(parts[4]);
        if (!offset) refuse(option, text, "OFFSET is a number");
        look.offset = *offset;
    }
    return look;
}

}  // namespace

void ChannelSettings::addChannel(std::string_view option) {
    const std::vector<std::string_view> parts = fields(option, ':');
    if (parts.size() < 2 || parts.size() > 5)
        refuse("--channel", option, "takes [NAME/]C:LABEL[:UNIT[:SCALE[:OFFSET]]]");
    Key key = scopeOf(parts[0], false, "--channel", option);
    ChannelLook look = lookOf(parts, option);
    if (!looks_.emplace(std::move(key), std::move(look)).second)
        refuse("--channel", option, "that channel is set already");
}

void ChannelSettings::addDeadband(std::string_view option) {
    const std::size_t equals = option.find('=');
    if (equals == std::string_view::npos)
        refuse("--deadband", option, "takes [NAME/]C=COUNTS, C may be '*'");
    Key key = scopeOf(option.substr(0, equals), true, "--deadband", option);
    const std::optional<long> counts =
        sncommon::parseInteger(option.substr(equals + 1), 0, kMostCounts);
    if (!counts) refuse("--deadband", option, "COUNTS is 0-65535");
    if (!deadbands_.emplace(std::move(key), static_cast<unsigned>(*counts)).second)
        refuse("--deadband", option, "that deadband is set already");
}

ChannelLook ChannelSettings::look(std::string_view node, int channel) const {
    for (const Key& key : {Key{std::string(node), channel}, Key{"", channel}}) {
        const auto found = looks_.find(key);
        if (found != looks_.end()) return found->second;
    }
    return ChannelLook{"Analog " + std::to_string(channel), ""};
}

unsigned ChannelSettings::deadband(std::string_view node, int channel) const {
    const std::string name(node);
    for (const Key& key : {Key{name, channel}, Key{name, -1}, Key{"", channel}, Key{"", -1}}) {
        const auto found = deadbands_.find(key);
        if (found != deadbands_.end()) return found->second;
    }
    return 0;
}

}  // namespace snmqtt
