// The files the pages load, compiled into the program: nothing is fetched
// from elsewhere at run time.
#pragma once

#include <string_view>

namespace snweb {

struct Asset {
    std::string_view name;  // as under /static/
    std::string_view contentType;
    std::string_view bytes;
};

// Nothing (empty name) for a file that is not there.
Asset findAsset(std::string_view name);

}  // namespace snweb
