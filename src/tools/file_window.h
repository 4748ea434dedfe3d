#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/stdio_file.h"
#include "tools/nsv_check.h"

namespace tarnel {

// An open file read at given offsets through one window of bytes, for a walk that looks at a few
// bytes and then jumps ahead. A read that the window does not hold refills the window from that
// offset with one pread, so bytes that a jump passes over are not read when the jump is longer
// than the window. Nothing is mapped into memory (a mapped file cut short kills the reader with
// SIGBUS).
class FileWindow : public NsvByteSource {
  public:
    static constexpr size_t kDefaultWindow = 64 * 1024;

    // Takes an open file; its size is taken now.
    explicit FileWindow(StdioFile file, size_t window = kDefaultWindow);

    uint64_t size() const override { return size_; }
    std::string_view read(uint64_t offset, size_t count) override;

  private:
    StdioFile file_;
    uint64_t size_ = 0;
    std::vector<char> buffer_;
    uint64_t start_ = 0;  // file offset of buffer_[0]
    size_t length_ = 0;   // bytes of buffer_ that hold the file
};

}  // namespace tarnel
