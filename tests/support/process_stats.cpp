#include "support/process_stats.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace tarnel::test {

namespace {

// The number in a "Key:   123 kB" line of /proc/PID/status.
long status_value(const std::string& line, const std::string& key) {
    return line.compare(0, key.size(), key) == 0 ? std::atol(line.c_str() + key.size()) : -1;
}

size_t count_descriptors(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/fd";
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
    if (!dir) {
        return 0;
    }
    size_t count = 0;
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    return count;
}

}  // namespace

ProcessStats process_stats(pid_t pid) {
    ProcessStats stats;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (const long hwm = status_value(line, "VmHWM:"); hwm >= 0) {
            stats.peak_rss_kb = hwm;
        } else if (const long rss = status_value(line, "VmRSS:"); rss >= 0) {
            stats.rss_kb = rss;
        }
    }
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    while (std::getline(rollup, line)) {
        if (const long kb = status_value(line, "Private_Dirty:"); kb >= 0) {
            stats.private_dirty_kb = kb;
        }
    }
    std::ifstream maps("/proc/" + std::to_string(pid) + "/smaps");
    bool in_openssl = false;
    while (std::getline(maps, line)) {
        const char first = line.empty() ? ' ' : line[0];
        const bool mapping = (first >= '0' && first <= '9') || (first >= 'a' && first <= 'f');
        if (mapping && line.find('-') < line.find(' ')) {
            in_openssl = line.find("/libssl.so") != std::string::npos ||
                         line.find("/libcrypto.so") != std::string::npos;
        } else if (const long kb = status_value(line, "Private_Dirty:"); kb >= 0 && in_openssl) {
            stats.openssl_private_dirty_kb += kb;
        }
    }
    stats.open_descriptors = count_descriptors(pid);
    return stats;
}

}  // namespace tarnel::test
