#include "sncommon/httpServer.h"

#include <algorithm>
#include <cctype>

namespace sncommon {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<std::string_view> HttpRequest::queryValue(std::string_view name) const {
    for (const HttpField& field : query) {
        if (field.name == name) return field.value;
    }
    return std::nullopt;
}

std::optional<std::string_view> HttpRequest::header(std::string_view name) const {
    for (const HttpField& field : headers) {
        if (sameIgnoringCase(field.name, name)) return field.value;
    }
    return std::nullopt;
}

}  // namespace sncommon
