#include "docExamples.h"

#include <fstream>
#include <regex>
#include <sstream>

namespace sntest {

namespace {

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A line ending in a backslash goes on in the next.
std::vector<std::string> joinContinuations(const std::vector<std::string>& lines) {
    std::vector<std::string> joined;
    bool continued = false;
    for (const std::string& line : lines) {
        if (continued) {
            const auto text = line.find_first_not_of(' ');
            joined.back() += text == std::string::npos ? "" : line.substr(text);
        } else {
            joined.push_back(line);
        }
        continued = !joined.back().empty() && joined.back().back() == '\\';
        if (continued) joined.back().pop_back();
    }
    return joined;
}

std::string unescapeRoff(std::string line) {
    static const std::pair<const char*, const char*> kEscapes[] = {
        {"\\-", "-"}, {"\\e", "\\"}, {"\\(aq", "'"}, {"\\&", ""}};
    for (const auto& [escape, text] : kEscapes) {
        for (auto at = line.find(escape); at != std::string::npos;
             at = line.find(escape, at + std::char_traits<char>::length(text)))
            line.replace(at, std::char_traits<char>::length(escape), text);
    }
    return line;
}

}  // namespace

std::vector<DocExample> markdownExamples(const std::string& path) {
    const std::regex command("`(cc [^`]+)`");
    std::vector<DocExample> examples;
    std::string lastCommand;
    bool inside = false;
    std::vector<std::string> body;
    for (const std::string& line : readLines(path)) {
        std::smatch found;
        if (!inside && std::regex_search(line, found, command)) lastCommand = found[1];
        if (line.rfind("```", 0) != 0) {
            if (inside) body.push_back(line);
            continue;
        }
        if (inside) {
            DocExample& example = examples.back();
            example.lines = example.language == "sh" ? joinContinuations(body) : body;
            static const std::string kFile = "# file: ";
            if (example.language == "python") {
                if (body.empty() || body.front().rfind(kFile, 0) != 0)
                    examples.pop_back();  // a fragment, saved by nobody
                else
                    example.file = body.front().substr(kFile.size());
            }
            inside = false;
        } else if (line == "```sh" || line == "```c" || line == "```python") {
            const std::string language = line.substr(3);
            examples.push_back({path + ", block " + std::to_string(examples.size() + 1),
                                language,
                                {},
                                language == "c" ? lastCommand : "",
                                ""});
            body.clear();
            inside = true;
        }
    }
    return examples;
}

DocExample manPageExamples(const std::string& path) {
    DocExample example{path, "sh", {}, "", ""};
    bool inSection = false, inExample = false;
    for (const std::string& line : readLines(path)) {
        if (line.rfind(".SH", 0) == 0) {
            inSection = line == ".SH EXAMPLES";
        } else if (line == ".nf" || line == ".fi") {
            inExample = inSection && line == ".nf";
        } else if (inExample && !line.empty() && line[0] != '.') {
            example.lines.push_back(unescapeRoff(line));
        }
    }
    example.lines = joinContinuations(example.lines);
    return example;
}

ShellLine splitComment(const std::string& line) {
    ShellLine split{line, {}};
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '#' && (i == 0 || line[i - 1] == ' ')) {
            split.command = line.substr(0, i);
            const std::string comment = line.substr(i);
            const auto prints = comment.find("prints");
            const std::regex quoted("\"([^\"]*)\"");
            if (prints != std::string::npos) {
                const std::string said = comment.substr(prints);
                for (std::sregex_iterator it(said.begin(), said.end(), quoted), end; it != end;
                     ++it)
                    split.printed.push_back((*it)[1]);
            }
            break;
        }
    }
    while (!split.command.empty() && split.command.back() == ' ') split.command.pop_back();
    return split;
}

}  // namespace sntest
