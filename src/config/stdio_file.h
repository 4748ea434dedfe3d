#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tarnel {

struct StdioCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Sole owner of an open stdio stream; closing happens in the destructor on every path.
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

inline StdioFile open_file(const std::string& path, const char* mode) {
    return StdioFile(std::fopen(path.c_str(), mode));
}

}  // namespace tarnel
