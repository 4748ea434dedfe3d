#include "config/stdio_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tarnel {

StdioFile open_regular_file(const std::string& path) {
    std::string unused;
    return open_regular_file(path, unused);
}

StdioFile open_regular_file(const std::string& path, std::string& failure) {
    StdioFile file = open_file(path, "r");
    if (!file) {
        failure = std::strerror(errno);
        return file;
    }
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) {
        failure = std::strerror(errno);
        file.reset();
    } else if (!S_ISREG(info.st_mode)) {
        failure = S_ISDIR(info.st_mode) ? "a directory, not a file" : "not a regular file";
        file.reset();
    }
    return file;
}

std::string path_for_message(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    return error ? path : path + " (in " + directory.string() + ")";
}

}  // namespace tarnel
