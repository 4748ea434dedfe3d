#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnel::web {

// The file picker of the page: it lists folders and NSV files under a station's directory (the
// "directory" of its GET /status) and never anything outside it. Paths are resolved with their
// links before they are checked, so a link that leads out is refused like "../".

// Whether real_path (resolved, absolute) is real_root itself or lies under it.
bool path_within(const std::string& real_root, const std::string& real_path);

// Whether a picker path is acceptable at all: relative, at most 4096 bytes, no NUL.
bool picker_path_valid(const std::string& relative);

// The real path of relative under directory, when it exists and stays under directory's real
// path; nullopt with the reason otherwise.
std::optional<std::string> resolve_within(const std::string& directory, const std::string& relative,
                                          std::string& reason);

struct MediaEntry {
    std::string name;
    bool folder = false;
};

// At most this many entries are listed per folder.
constexpr size_t kMaxPickerEntries = 2000;

struct MediaListing {
    std::string path;  // the folder, relative to the directory ("" for the directory itself)
    std::vector<MediaEntry> entries;  // folders first, then files, each sorted by name
    bool truncated = false;
    std::string error;  // empty when listed
};

// The folders (not hidden) and *.nsv files of directory/relative.
MediaListing list_media(const std::string& directory, const std::string& relative);

// Whether a file name is one the picker offers: it ends in ".nsv", in any letter case.
bool is_media_name(const std::string& name);

}  // namespace tarnel::web
