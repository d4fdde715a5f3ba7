// The examples a user copies from the README and the man pages, read from
// the documents themselves so that a test runs what a reader sees.
#pragma once

#include <string>
#include <vector>

namespace sntest {

struct DocExample {
    std::string where;               // "README.md, block 3", "snctl.1"
    std::string language;            // "sh" or "c"
    std::vector<std::string> lines;  // sh: one command a line, continuations joined
    std::string buildCommand;        // c: the command the prose gives in backquotes
    std::string file;                // python: the NAME of its "# file: NAME" line
};

// Every fenced sh and c block of a Markdown file, and each python block that
// says which file a reader saves it as.
std::vector<DocExample> markdownExamples(const std::string& path);

// The unfilled (.nf to .fi) lines of a man page's EXAMPLES section, its
// roff escapes undone; the prose between them is no example.
DocExample manPageExamples(const std::string& path);

// A shell line without its trailing comment (a # that starts a word outside
// quotes), and the strings that comment says the command prints: every
// double-quoted string after the word "prints".
struct ShellLine {
    std::string command;
    std::vector<std::string> printed;
};
ShellLine splitComment(const std::string& line);

}  // namespace sntest
