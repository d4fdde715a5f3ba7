// What a page asks a node to do: a POST to /api/node/NAME/ACTION with a
// JSON body, checked here before anything reaches the node.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "nodeCommand.h"

namespace snweb {

using snpoll::Action;
using snpoll::Command;
using snpoll::describe;

inline constexpr std::size_t kLargestBody = 1024;

struct ParsedCommand {
    std::optional<Command> command;
    std::string refusal;  // why not, when no command
};

// `action` is the last part of the path; `body` the request's JSON.
ParsedCommand parseCommand(std::string_view action, std::string_view body);

}  // namespace snweb
