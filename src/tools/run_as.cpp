#include "tools/run_as.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnel {

StationPlace station_place(const std::string& name) {
    return StationPlace{std::string(TARNEL_CONFIG_DIR) + "/" + name + ".conf",
                        "/var/lib/tarnel/" + name, "tarnel"};
}

std::string become_user(const std::string& name) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    const int looked_up = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
    if (found == nullptr) {
        return looked_up != 0 ? std::strerror(looked_up) : "no user " + name;
    }
    if (found->pw_uid == geteuid() && found->pw_gid == getegid()) {
        return "";  // already that user
    }
    if (initgroups(name.c_str(), found->pw_gid) != 0 || setgid(found->pw_gid) != 0 ||
        setuid(found->pw_uid) != 0) {
        return std::strerror(errno);
    }
    return "";
}

}  // namespace tarnel
