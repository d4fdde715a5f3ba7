// libFuzzer target: arbitrary command lines through snterm's option parser.
// Input bytes are split at NUL into arguments.  Besides the sanitizers'
// memory checks, the settings that come out must always be usable.
#include "sncommon/comName.h"
#include "snterm/options.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> splitArguments(const uint8_t* data, std::size_t size) {
    std::vector<std::string> words{"snterm"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    words.push_back(current);
    return words;
}

void checkComTranslation(const std::string& name) {
    char out[sncommon::kComNameSize];
    std::memset(out, 'G', sizeof out);
    const auto result = sncommon::translateComName(name.c_str(), out);
    if (result == sncommon::ComTranslation::Translated &&
        (std::memchr(out, '\0', sizeof out) == nullptr || std::strncmp(out, "/dev/ttyS", 9) != 0)) {
        __builtin_trap();
    }
}

void checkSettings(const snterm::ParseResult& result, const snterm::Settings& settings) {
    if (!result.proceed) {
        return;
    }
    const bool slaveOk = settings.slaveID >= 1 && settings.slaveID <= 247;
    const bool portOk = settings.targetPort >= 0 && settings.targetPort <= 3;
    const bool flagsOk = (settings.snDebug == 0 || settings.snDebug == 1) &&
                         (settings.modDebug == 0 || settings.modDebug == 1);
    if (!slaveOk || !portOk || !flagsOk || settings.modPort.size() > 4096) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    opterr = 0;  // getopt's own complaints would only slow the run

    std::vector<std::string> words = splitArguments(data, size);
    for (const auto& word : words) {
        checkComTranslation(word);
    }
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    snterm::Settings settings;
    const auto result =
        snterm::parseOptions(static_cast<int>(words.size()), argv.data(), settings, sink);
    checkSettings(result, settings);
    return 0;
}
