// The pages' HTML: a frame the page's script fills in from its WebSocket,
// so no node data is in the HTML itself.
#pragma once

#include <string>

namespace snweb {

// `kind` "overview", "node" or "port"; `node` a target's name (plain
// characters only, so it goes in unescaped); `port` 0-2 on a port page.
std::string pageHtml(const std::string& kind, const std::string& node, int port);

}  // namespace snweb
