#include "web/run_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace tarnel::web {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Sole owner of a descriptor opened here.
class FileDescriptor {
  public:
    explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            close(descriptor_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

bool is_socket(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool is_regular_file(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The file's first limit bytes; false with the reason when it cannot be read or is longer.
bool read_bounded(const std::string& path, size_t limit, std::string& text, std::string& reason) {
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0) {
        reason = errno == ENOENT
                     ? "no status file"
                     : "cannot read the status file: " + std::string(std::strerror(errno));
        return false;
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        reason = "the status file is not a regular file";
        return false;
    }
    text.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t got = read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            reason = "cannot read the status file: " + std::string(std::strerror(errno));
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > limit) {
            reason = "the status file is larger than " + std::to_string(limit) + " bytes";
            return false;
        }
    }
}

}  // namespace

std::string status_file_path(const std::string& run_dir, const std::string& name) {
    return run_dir + "/" + name + "/status.json";
}

std::string control_socket_path(const std::string& run_dir, const std::string& name) {
    return run_dir + "/" + name + "/control.sock";
}

StationList list_stations(const std::string& run_dir) {
    StationList list;
    const std::unique_ptr<DIR, DirCloser> dir(opendir(run_dir.c_str()));
    if (!dir) {
        return list;
    }
    std::vector<std::string> candidates;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (station_name_valid(name)) {
            candidates.push_back(name);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const std::string& name : candidates) {
        if (!is_regular_file(status_file_path(run_dir, name)) &&
            !is_socket(control_socket_path(run_dir, name))) {
            continue;
        }
        if (list.names.size() == kMaxStations) {
            ++list.left_out;
        } else {
            list.names.push_back(name);
        }
    }
    return list;
}

bool process_exists(long pid) {
    if (pid <= 0 || pid > 0x3fffffff) {
        return false;
    }
    // Signal 0 checks without sending: EPERM means it exists but belongs to another user.
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

StationReading read_station(const std::string& run_dir, const std::string& name) {
    StationReading station;
    station.name = name;
    station.has_control_socket = is_socket(control_socket_path(run_dir, name));
    std::string text;
    if (!read_bounded(status_file_path(run_dir, name), kMaxStatusFileBytes, text,
                      station.status_problem)) {
        return station;
    }
    if (std::optional<nlohmann::json> status = parse_status_text(text, station.status_problem)) {
        station.status = std::move(*status);
        const nlohmann::json pid = station.status.value("pid", nlohmann::json());
        station.process_alive = pid.is_number_integer() && process_exists(pid.get<long>());
    }
    return station;
}

}  // namespace tarnel::web
