#include "web/media_picker.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tarnel::web {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

struct FreeCloser {
    void operator()(char* text) const { std::free(text); }
};

std::optional<std::string> real_path(const std::string& path) {
    const std::unique_ptr<char, FreeCloser> resolved(realpath(path.c_str(), nullptr));
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

}  // namespace

bool path_within(const std::string& real_root, const std::string& real_path_text) {
    if (real_root.empty() || real_root[0] != '/') {
        return false;
    }
    if (real_path_text == real_root) {
        return true;
    }
    const std::string prefix = real_root == "/" ? "/" : real_root + "/";
    return real_path_text.compare(0, prefix.size(), prefix) == 0;
}

bool picker_path_valid(const std::string& relative) {
    return relative.size() <= 4096 && (relative.empty() || relative[0] != '/') &&
           relative.find('\0') == std::string::npos;
}

std::optional<std::string> resolve_within(const std::string& directory, const std::string& relative,
                                          std::string& reason) {
    if (directory.empty() || directory[0] != '/') {
        reason = "the station names no directory";
        return std::nullopt;
    }
    if (!picker_path_valid(relative)) {
        reason = "\"" + relative + "\" is not a path relative to the station's directory";
        return std::nullopt;
    }
    const std::optional<std::string> root = real_path(directory);
    if (!root) {
        reason = "the station's directory cannot be read: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    const std::optional<std::string> target =
        relative.empty() ? root : real_path(directory + "/" + relative);
    if (!target) {
        reason = "\"" + relative + "\": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!path_within(*root, *target)) {
        reason = "\"" + relative + "\" is outside the station's directory";
        return std::nullopt;
    }
    return target;
}

bool is_media_name(const std::string& name) {
    if (name.size() < 5) {
        return false;
    }
    std::string end = name.substr(name.size() - 4);
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return end == ".nsv";
}

MediaListing list_media(const std::string& directory, const std::string& relative) {
    MediaListing listing;
    listing.path = relative;
    const std::optional<std::string> folder = resolve_within(directory, relative, listing.error);
    if (!folder) {
        return listing;
    }
    const std::unique_ptr<DIR, DirCloser> dir(opendir(folder->c_str()));
    if (!dir) {
        listing.error = "\"" + relative + "\": " + std::strerror(errno);
        return listing;
    }
    std::vector<MediaEntry> folders;
    std::vector<MediaEntry> files;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        if (folders.size() + files.size() == kMaxPickerEntries) {
            listing.truncated = true;
            break;
        }
        struct stat info {};
        if (stat((*folder + "/" + name).c_str(), &info) != 0) {
            continue;
        }
        if (S_ISDIR(info.st_mode)) {
            folders.push_back({name, true});
        } else if (S_ISREG(info.st_mode) && is_media_name(name)) {
            files.push_back({name, false});
        }
    }
    const auto by_name = [](const MediaEntry& a, const MediaEntry& b) { return a.name < b.name; };
    std::sort(folders.begin(), folders.end(), by_name);
    std::sort(files.begin(), files.end(), by_name);
    listing.entries = std::move(folders);
    listing.entries.insert(listing.entries.end(), files.begin(), files.end());
    return listing;
}

}  // namespace tarnel::web
