#pragma once

#include <sys/types.h>

#include <cstddef>

namespace tarnel::test {

// Resource figures of a running process, from /proc (0 when it is gone).
struct ProcessStats {
    long peak_rss_kb = 0;  // VmHWM
    long rss_kb = 0;       // VmRSS
    // Pages written by the process itself and not shared with any other (Private_Dirty of
    // /proc/PID/smaps_rollup): what each more process of the same program costs.
    long private_dirty_kb = 0;
    // Of private_dirty_kb, the part in the mappings of OpenSSL's libraries (libssl, libcrypto):
    // their relocated data, which every process that loads them writes.
    long openssl_private_dirty_kb = 0;
    size_t open_descriptors = 0;
};

ProcessStats process_stats(pid_t pid);

}  // namespace tarnel::test
