#include "driver/as_run_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "config/log.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "config/unique_descriptor.h"

namespace tarnel {

namespace {

// The path whose write failure was logged; empty while writes succeed.
std::string failing_path;
bool keeping_in_memory = false;
std::deque<std::string> lines_in_memory;

// Appends line in one write; an empty string or the reason it failed.
std::string append_line(const std::string& path, const std::string& line) {
    // Non-blocking, so that a path naming a FIFO without a reader fails instead of hanging; a
    // symbolic link planted at the path is not followed, and only a regular file is written.
    const UniqueDescriptor file(::open(
        path.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0640));
    if (!file) {
        return open_failure_text(errno);
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return "it is not a regular file";
    }
    ssize_t written = 0;
    do {
        written = ::write(file.get(), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return std::strerror(errno);
    }
    if (static_cast<size_t>(written) != line.size()) {
        return "only part of the line was written (is the disk full?)";
    }
    return "";
}

// Reads the last kHistoryTailBytes of the file at path into tail; an empty string or why not.
std::string read_tail(const std::string& path, std::string& tail, bool& whole_file) {
    tail.clear();
    whole_file = true;
    const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file) {
        return errno == ENOENT ? "" : std::strerror(errno);  // no line written yet
    }
    struct stat status {};
    if (fstat(file.get(), &status) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return "it is not a regular file";
    }
    const auto size = static_cast<size_t>(status.st_size);
    const size_t start = size > kHistoryTailBytes ? size - kHistoryTailBytes : 0;
    whole_file = start == 0;
    tail.resize(size - start);
    size_t have = 0;
    while (have < tail.size()) {
        const ssize_t got =
            ::pread(file.get(), &tail[have], tail.size() - have, static_cast<off_t>(start + have));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::strerror(errno);
        }
        if (got == 0) {
            break;  // the file was cut meanwhile
        }
        have += static_cast<size_t>(got);
    }
    tail.resize(have);
    return "";
}

void add_record(std::vector<nlohmann::ordered_json>& records, std::string_view line) {
    nlohmann::ordered_json record = nlohmann::ordered_json::parse(line, nullptr, false);
    if (record.is_object()) {
        records.push_back(std::move(record));
    }
}

}  // namespace

void record_on_air(const AsRunRecord& record) {
    if (as_run_log.empty() && !keeping_in_memory) {
        return;
    }
    const std::string line = as_run_line(record);
    if (keeping_in_memory) {
        lines_in_memory.push_back(line);
        if (lines_in_memory.size() > kHistoryInMemory) {
            lines_in_memory.pop_front();
        }
    }
    if (as_run_log.empty()) {
        return;
    }
    const std::string path = as_run_log;
    const std::string failure = append_line(path, line);
    if (failure.empty()) {
        failing_path.clear();
    } else if (failing_path != path) {
        failing_path = path;
        nsv_log("Warning: could not write the as-run log " + path + ": " + failure);
    }
}

void keep_history_in_memory(bool keep) {
    keeping_in_memory = keep;
    if (!keep) {
        lines_in_memory.clear();
    }
}

std::string read_history(size_t count, std::vector<nlohmann::ordered_json>& records) {
    records.clear();
    if (as_run_log.empty()) {
        const size_t first = lines_in_memory.size() > count ? lines_in_memory.size() - count : 0;
        for (size_t i = first; i < lines_in_memory.size(); ++i) {
            add_record(records, lines_in_memory[i]);
        }
        return "";
    }
    std::string tail;
    bool whole_file = true;
    const std::string failure = read_tail(as_run_log, tail, whole_file);
    if (!failure.empty()) {
        return "the as-run log " + as_run_log + " could not be read: " + failure;
    }
    for (const std::string_view line : last_lines(tail, whole_file, count)) {
        add_record(records, line);
    }
    return "";
}

std::vector<std::string_view> last_lines(std::string_view tail, bool whole_file, size_t count) {
    std::vector<std::string_view> lines;
    // Only lines that end in a line feed count.
    size_t end = tail.rfind('\n');
    while (end != std::string_view::npos && lines.size() < count) {
        const size_t previous = end == 0 ? std::string_view::npos : tail.rfind('\n', end - 1);
        if (previous == std::string_view::npos && !whole_file) {
            break;  // the first line may have begun before the tail
        }
        const size_t start = previous == std::string_view::npos ? 0 : previous + 1;
        if (end > start) {
            lines.push_back(tail.substr(start, end - start));
        }
        end = previous;
    }
    std::reverse(lines.begin(), lines.end());
    return lines;
}

void reset_as_run_log() {
    failing_path.clear();
    keeping_in_memory = false;
    lines_in_memory.clear();
}

}  // namespace tarnel
