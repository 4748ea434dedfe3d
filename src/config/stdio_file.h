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

// Opens path for reading only when it is a regular file. Devices, pipes and directories are
// refused: a source like /dev/zero never ends, and a loader or reader fed by it would never return.
StdioFile open_regular_file(const std::string& path);
// The same; when it fails, failure says why: the system's text for the error ("Permission
// denied"), "a directory, not a file" or "not a regular file".
StdioFile open_regular_file(const std::string& path, std::string& failure);

// A path as a message shows it: a relative one with the working directory it is resolved from
// ("playlist.plo (in /var/lib/tarnel/news)"), so a reader knows which file was meant.
std::string path_for_message(const std::string& path);

}  // namespace tarnel
