#include "driver/entry_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/unique_descriptor.h"
#include "nsv/nsv_format.h"

namespace tarnel {

bool starts_as_nsv(std::string_view bytes) {
    return bytes.size() >= 4 &&
           (nsv::is_file_header_marker(bytes.data()) || nsv::is_sync_marker(bytes.data()));
}

std::string entry_problem(const std::string& entry) {
    if (entry.empty()) {
        return "no entry given";
    }
    if (entry.find('\0') != std::string::npos) {
        return "the entry holds a NUL byte";
    }
    // Looked at before it is opened, so that no device is ever opened; and again after, for a
    // file that was replaced in between.
    struct stat status {};
    if (::stat(entry.c_str(), &status) != 0) {
        return entry + " cannot be opened: " + std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return entry + " is not a regular file";
    }
    const UniqueDescriptor file(
        ::open(entry.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file) {
        return entry + " cannot be opened: " + std::strerror(errno);
    }
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return entry + " is not a regular file";
    }
    char start[4] = {};
    ssize_t got = 0;
    do {
        got = ::pread(file.get(), start, sizeof start, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        return entry + " cannot be read: " + std::strerror(errno);
    }
    if (!starts_as_nsv(std::string_view(start, static_cast<size_t>(got)))) {
        return entry + " is not an NSV file: it does not start with NSVf or NSVs";
    }
    return "";
}

}  // namespace tarnel
