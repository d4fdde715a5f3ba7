// The paths snweb answers; users bookmark the pages, so these stay.
#pragma once

#include <string>
#include <string_view>

namespace snweb {

enum class Page {
    Overview,        // /
    Node,            // /node/NAME
    Port,            // /node/NAME/port/P
    Asset,           // /static/FILE
    Csv,             // /api/node/NAME/window.csv
    Command,         // /api/node/NAME/ACTION (POST)
    SocketOverview,  // /ws
    SocketNode,      // /ws/node/NAME
    SocketTerminal,  // /ws/node/NAME/port/P
    NotFound,
};

struct Route {
    Page page = Page::NotFound;
    std::string node;    // a name as targets have them (not yet known to exist)
    int port = -1;       // 0-2 on Page::Port and Page::SocketTerminal
    std::string detail;  // the asset's file or the command's action
};

Route routeOf(std::string_view path);

}  // namespace snweb
