#include "tools/byte_file.h"

#include <cstdio>

#include "config/stdio_file.h"

namespace tarnel {

bool read_whole_file(const std::string& path, std::string& bytes) {
    const StdioFile file = open_file(path, "rb");
    if (!file) {
        return false;
    }
    bytes.clear();
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.append(buffer, got);
    }
    return std::ferror(file.get()) == 0;
}

bool write_whole_file(const std::string& path, const std::string& bytes) {
    bool written = false;
    {
        StdioFile file = open_file(path, "wb");
        if (!file) {
            return false;
        }
        written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
        // fclose flushes; its failure (a full disk, say) means the file is incomplete.
        written = std::fclose(file.release()) == 0 && written;
    }
    if (!written) {
        std::remove(path.c_str());
    }
    return written;
}

}  // namespace tarnel
