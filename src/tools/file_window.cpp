#include "tools/file_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnel {

FileWindow::FileWindow(StdioFile file, size_t window) : file_(std::move(file)), buffer_(window) {
    struct stat info {};
    if (file_ && fstat(fileno(file_.get()), &info) == 0) {
        size_ = static_cast<uint64_t>(info.st_size);
    }
}

std::string_view FileWindow::read(uint64_t offset, size_t count) {
    const bool held = offset >= start_ && offset - start_ + count <= length_;
    if (!held && file_) {
        if (buffer_.size() < count) {
            buffer_.resize(count);
        }
        start_ = offset;
        length_ = 0;
        const int descriptor = fileno(file_.get());
        while (length_ < buffer_.size()) {
            const ssize_t got =
                pread(descriptor, buffer_.data() + length_, buffer_.size() - length_,
                      static_cast<off_t>(offset + length_));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            length_ += static_cast<size_t>(got);
        }
    }
    if (offset < start_ || offset - start_ >= length_) {
        return {};
    }
    const size_t at = static_cast<size_t>(offset - start_);
    return std::string_view(buffer_.data() + at, std::min(count, length_ - at));
}

}  // namespace tarnel
