#include "pages.h"

namespace snweb {

std::string pageHtml(const std::string& kind, const std::string& node, int port) {
    std::string title = node.empty() ? "snweb" : node + " - snweb";
    if (port >= 0) title = node + " port " + std::to_string(port) + " - snweb";
    return "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" +
           title +
           "</title>\n"
           // Named here, so the browser does not ask for a /favicon.ico.
           "<link rel=\"icon\" href=\"/static/favicon.svg\" type=\"image/svg+xml\">\n"
           "<link rel=\"stylesheet\" href=\"/static/uPlot.min.css\">\n"
           "<link rel=\"stylesheet\" href=\"/static/xterm.css\">\n"
           "<link rel=\"stylesheet\" href=\"/static/style.css\">\n"
           "<script src=\"/static/uPlot.iife.min.js\"></script>\n"
           "<script type=\"module\" src=\"/static/app.js\"></script>\n"
           "</head>\n<body data-page=\"" +
           kind + "\" data-node=\"" + node + "\" data-port=\"" + std::to_string(port) +
           "\">\n<header><a href=\"/\">snweb</a> <span id=\"where\"></span>"
           " <span id=\"link\" class=\"link\"></span></header>\n"
           "<main id=\"app\"></main>\n</body>\n</html>\n";
}

}  // namespace snweb
