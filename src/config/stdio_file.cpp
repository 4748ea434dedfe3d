#include "config/stdio_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace tarnel {

namespace {

// The mode of a file that fopen creates, before the umask.
constexpr mode_t kCreatedMode = 0666;
// Names tried by create_unique_file before it gives up (each one taken already).
constexpr int kUniqueNameAttempts = 100;

// Sole owner of a descriptor until it is handed to a stdio stream.
class OpenDescriptor {
  public:
    explicit OpenDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~OpenDescriptor() {
        if (descriptor_ != -1) {
            const int error = errno;
            ::close(descriptor_);
            errno = error;
        }
    }
    OpenDescriptor(OpenDescriptor&& other) noexcept : descriptor_(other.release()) {}
    OpenDescriptor(const OpenDescriptor&) = delete;
    OpenDescriptor& operator=(const OpenDescriptor&) = delete;
    OpenDescriptor& operator=(OpenDescriptor&&) = delete;

    int get() const { return descriptor_; }
    int release() { return std::exchange(descriptor_, -1); }

  private:
    int descriptor_;
};

// Opens path with flags, without blocking and closed on exec; keeps the descriptor only when it
// is a regular file, with blocking switched back on.
OpenDescriptor open_regular(const std::string& path, int flags) {
    OpenDescriptor opened(::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, kCreatedMode));
    if (opened.get() == -1) {
        return opened;
    }
    struct stat info {};
    if (fstat(opened.get(), &info) != 0) {
        return OpenDescriptor(-1);
    }
    if (!S_ISREG(info.st_mode)) {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return OpenDescriptor(-1);
    }
    const int status = fcntl(opened.get(), F_GETFL);
    if (status == -1 || fcntl(opened.get(), F_SETFL, status & ~O_NONBLOCK) == -1) {
        return OpenDescriptor(-1);
    }
    return opened;
}

StdioFile as_stream(OpenDescriptor descriptor, const char* mode) {
    if (descriptor.get() == -1) {
        return nullptr;
    }
    StdioFile file(fdopen(descriptor.get(), mode));
    if (file) {
        descriptor.release();  // the stream owns it now
    }
    return file;
}

// Six letters and digits that another user cannot guess.
std::string random_suffix() {
    static constexpr char kCharacters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kCharacters - 2);
    std::string suffix(6, ' ');
    for (char& c : suffix) {
        c = kCharacters[pick(engine)];
    }
    return suffix;
}

}  // namespace

StdioFile open_regular_file(const std::string& path) {
    return as_stream(open_regular(path, O_RDONLY), "r");
}

StdioFile open_regular_file(const std::string& path, std::string& failure) {
    StdioFile file = open_regular_file(path);
    if (!file) {
        failure = open_failure_text(errno);
    }
    return file;
}

std::string open_failure_text(int error) {
    switch (error) {
        case EISDIR:
            return "a directory, not a file";
        case EINVAL:
            return "not a regular file";
        case ELOOP:
            return "a symbolic link, which is not followed";
        default:
            return std::strerror(error);
    }
}

std::string path_for_message(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    return error ? path : path + " (in " + directory.string() + ")";
}

StdioFile open_log_file(const std::string& path, bool truncate) {
    OpenDescriptor opened = open_regular(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW);
    // Emptied only once it is known to be a regular file: a device is never truncated.
    if (truncate && opened.get() != -1 && ftruncate(opened.get(), 0) != 0) {
        return nullptr;
    }
    return as_stream(std::move(opened), "a");
}

StdioFile create_unique_file(const std::string& prefix, std::string& name) {
    for (int attempt = 0; attempt < kUniqueNameAttempts; ++attempt) {
        const std::string candidate = prefix + random_suffix();
        OpenDescriptor created = open_regular(candidate, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW);
        if (created.get() != -1) {
            name = candidate;
            return as_stream(std::move(created), "w");
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace tarnel
