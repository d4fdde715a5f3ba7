#include "report.h"

#include "sncommon/hexText.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

namespace snctl {

namespace {

std::string labelOf(std::string key) {
    std::replace(key.begin(), key.end(), '_', ' ');
    return key;
}

std::string joinNumbers(const std::vector<long long>& values, const char* separator) {
    std::string joined;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) joined += separator;
        joined += std::to_string(values[i]);
    }
    return joined;
}

std::string hexDigits(const std::vector<uint8_t>& data) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : data) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// Each byte as the code point U+00XX in UTF-8: any bytes become a valid
// JSON string, and a reader gets them back one per character.
std::string asCodePoints(const std::string& bytes) {
    std::string utf8;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// The \u00XX form of the short escapes the JSON library writes for these
// control bytes, or null for any other escape.
const char* longEscape(char escape) {
    switch (escape) {
        case 'b':
            return "u0008";
        case 't':
            return "u0009";
        case 'n':
            return "u000a";
        case 'f':
            return "u000c";
        case 'r':
            return "u000d";
        default:
            return nullptr;
    }
}

// snctl has always written every control byte as \u00XX, and scripts may
// match on that, so the library's short escapes are spelled out.
std::string dumpJson(const nlohmann::ordered_json& value) {
    const std::string dumped = value.dump(-1, ' ', /*ensure_ascii=*/true);
    std::string out;
    for (std::size_t i = 0; i < dumped.size(); ++i) {
        out += dumped[i];
        if (dumped[i] != '\\' || i + 1 == dumped.size()) continue;
        const char escape = dumped[++i];  // consumed with its backslash
        const char* spelled = longEscape(escape);
        if (spelled != nullptr) {
            out += spelled;
        } else {
            out += escape;
        }
    }
    return out;
}

}  // namespace

std::string jsonString(const std::string& bytes) {
    return dumpJson(nlohmann::ordered_json(asCodePoints(bytes)));
}

Report::Field& Report::add(const std::string& key, Kind kind) {
    fields_.push_back(Field{key, kind, 0, 0, {}, {}, {}, {}});
    return fields_.back();
}

void Report::number(const std::string& key, long long value) {
    add(key, Kind::Number).number = value;
}

void Report::hex(const std::string& key, unsigned long value, int digits) {
    Field& field = add(key, Kind::Hex);
    field.number = static_cast<long long>(value);
    field.digits = digits;
}

void Report::text(const std::string& key, const std::string& value) {
    add(key, Kind::Text).text = value;
}

void Report::numbers(const std::string& key, const std::vector<long long>& values) {
    add(key, Kind::Numbers).numbers = values;
}

void Report::row(const std::string& listKey, const std::string& label, long long labelValue,
                 const std::string& valueKey, const std::vector<long long>& values) {
    if (fields_.empty() || fields_.back().key != listKey || fields_.back().kind != Kind::Rows) {
        add(listKey, Kind::Rows);
    }
    fields_.back().rows.push_back(Row{label, labelValue, valueKey, values});
}

void Report::bytes(const std::string& key, const std::vector<uint8_t>& data) {
    add(key, Kind::Bytes).data = data;
}

void Report::printTextField(std::FILE* out, const Field& field) {
    switch (field.kind) {
        case Kind::Number:
            std::fprintf(out, "%s: %lld\n", labelOf(field.key).c_str(), field.number);
            break;
        case Kind::Hex: {
            const auto value = static_cast<unsigned long long>(field.number);
            std::fprintf(out, "%s: %s\n", labelOf(field.key).c_str(),
                         sncommon::hexText(value, field.digits).c_str());
            break;
        }
        case Kind::Text:
            std::fprintf(out, "%s: %s\n", labelOf(field.key).c_str(), field.text.c_str());
            break;
        case Kind::Numbers:
            std::fprintf(out, "%s: %s\n", labelOf(field.key).c_str(),
                         joinNumbers(field.numbers, " ").c_str());
            break;
        case Kind::Rows:
            for (const Row& row : field.rows) {
                std::fprintf(out, "%s %lld: %s\n", row.label.c_str(), row.labelValue,
                             joinNumbers(row.values, " ").c_str());
            }
            break;
        case Kind::Bytes:
            // An empty vector's data() may be null, which fwrite must not get.
            if (!field.data.empty()) std::fwrite(field.data.data(), 1, field.data.size(), out);
            break;
    }
}

void Report::printText(std::FILE* out) const {
    for (const Field& field : fields_) printTextField(out, field);
    std::fflush(out);
}

void Report::addJsonField(nlohmann::ordered_json& object, const Field& field) {
    switch (field.kind) {
        case Kind::Number:
        case Kind::Hex:
            object[field.key] = field.number;
            break;
        case Kind::Text:
            object[field.key] = asCodePoints(field.text);
            break;
        case Kind::Numbers:
            object[field.key] = field.numbers;
            break;
        case Kind::Rows: {
            nlohmann::ordered_json& rows = object[field.key] = nlohmann::ordered_json::array();
            for (const Row& row : field.rows) {
                nlohmann::ordered_json element;
                element[row.label] = row.labelValue;
                if (row.values.size() == 1) {
                    element[row.valueKey] = row.values[0];
                } else {
                    element[row.valueKey] = row.values;
                }
                rows.push_back(std::move(element));
            }
            break;
        }
        case Kind::Bytes:
            object[field.key] = asCodePoints(std::string(field.data.begin(), field.data.end()));
            object[field.key + "_hex"] = hexDigits(field.data);
            break;
    }
}

void Report::printJson(std::FILE* out) const {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const Field& field : fields_) addJsonField(object, field);
    const std::string text = dumpJson(object) + "\n";
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

}  // namespace snctl
