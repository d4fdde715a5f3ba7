// A program path and its arguments in the form execv wants.
#pragma once

#include <string>
#include <vector>

namespace snterm_test {

class ExecArgs {
public:
    ExecArgs(const std::string& path, const std::vector<std::string>& args) : words_{path} {
        words_.insert(words_.end(), args.begin(), args.end());
        for (auto& word : words_) {
            argv_.push_back(word.data());
        }
        argv_.push_back(nullptr);
    }
    ExecArgs(const ExecArgs&) = delete;  // argv points into words
    ExecArgs& operator=(const ExecArgs&) = delete;

    const char* path() const { return argv_[0]; }
    char* const* argv() const { return argv_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> argv_;
};

}  // namespace snterm_test
