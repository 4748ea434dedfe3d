#pragma once

#include <string_view>

namespace tarnel::web {

// A file of the page (src/web/assets), compiled into the program.
struct Asset {
    std::string_view path;  // "/index.html"
    std::string_view type;  // its Content-Type
    std::string_view body;
};

// The asset served at path, or nullptr.
const Asset* find_asset(std::string_view path);

}  // namespace tarnel::web
