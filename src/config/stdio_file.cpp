#include "config/stdio_file.h"

#include <sys/stat.h>

namespace tarnel {

StdioFile open_regular_file(const std::string& path) {
    StdioFile file = open_file(path, "r");
    struct stat info {};
    if (file && (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode))) {
        file.reset();
    }
    return file;
}

}  // namespace tarnel
