// A command's result, printed either as "label: value" lines or as one
// JSON object, so every command supports --json the same way.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace snctl {

class Report {
public:
    // Keys are snake_case; text output shows them with spaces.
    void number(const std::string& key, long long value);
    void hex(const std::string& key, unsigned long value, int digits);  // JSON: a number
    void text(const std::string& key, const std::string& value);
    void numbers(const std::string& key, const std::vector<long long>& values);
    // One element of the list `listKey`: text "label N: values...",
    // JSON {"label": N, "valueKey": v or [v...]}.
    void row(const std::string& listKey, const std::string& label, long long labelValue,
             const std::string& valueKey, const std::vector<long long>& values);
    // Received bytes: raw in text output, escaped string plus hex in JSON.
    void bytes(const std::string& key, const std::vector<uint8_t>& data);

    bool empty() const { return fields_.empty(); }
    void printText(std::FILE* out) const;
    void printJson(std::FILE* out) const;

private:
    enum class Kind { Number, Hex, Text, Numbers, Rows, Bytes };
    struct Row {
        std::string label;
        long long labelValue;
        std::string valueKey;
        std::vector<long long> values;
    };
    struct Field {
        std::string key;
        Kind kind;
        long long number = 0;
        int digits = 0;
        std::string text;
        std::vector<long long> numbers;
        std::vector<Row> rows;
        std::vector<uint8_t> data;
    };
    Field& add(const std::string& key, Kind kind);
    static void printTextField(std::FILE* out, const Field& field);
    static void addJsonField(nlohmann::ordered_json& object, const Field& field);

    std::vector<Field> fields_;
};

// JSON string literal for arbitrary bytes: each byte is one code point,
// written \u00XX unless it is printable ASCII.
std::string jsonString(const std::string& bytes);

}  // namespace snctl
