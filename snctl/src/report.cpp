#include "report.h"

#include <algorithm>

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

}  // namespace

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
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
        case Kind::Hex:
            std::fprintf(out, "%s: 0x%0*llx\n", labelOf(field.key).c_str(), field.digits,
                         static_cast<unsigned long long>(field.number));
            break;
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
            std::fwrite(field.data.data(), 1, field.data.size(), out);
            break;
    }
}

void Report::printText(std::FILE* out) const {
    for (const Field& field : fields_) printTextField(out, field);
    std::fflush(out);
}

void Report::printJsonValue(std::FILE* out, const Field& field) {
    switch (field.kind) {
        case Kind::Number:
        case Kind::Hex:
            std::fprintf(out, "%lld", field.number);
            break;
        case Kind::Text:
            std::fputs(jsonString(field.text).c_str(), out);
            break;
        case Kind::Numbers:
            std::fprintf(out, "[%s]", joinNumbers(field.numbers, ",").c_str());
            break;
        case Kind::Rows:
            std::fputc('[', out);
            for (std::size_t i = 0; i < field.rows.size(); ++i) {
                const Row& row = field.rows[i];
                const std::string values = row.values.size() == 1
                                               ? std::to_string(row.values[0])
                                               : "[" + joinNumbers(row.values, ",") + "]";
                std::fprintf(out, "%s{\"%s\":%lld,\"%s\":%s}", i == 0 ? "" : ",", row.label.c_str(),
                             row.labelValue, row.valueKey.c_str(), values.c_str());
            }
            std::fputc(']', out);
            break;
        case Kind::Bytes:
            std::fprintf(out, "%s,\"%s_hex\":\"%s\"",
                         jsonString(std::string(field.data.begin(), field.data.end())).c_str(),
                         field.key.c_str(), hexDigits(field.data).c_str());
            break;
    }
}

void Report::printJson(std::FILE* out) const {
    std::fputc('{', out);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        std::fprintf(out, "%s\"%s\":", i == 0 ? "" : ",", fields_[i].key.c_str());
        printJsonValue(out, fields_[i]);
    }
    std::fputs("}\n", out);
    std::fflush(out);
}

}  // namespace snctl
