#include "driver/playlist_reload.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config/playlist.h"
#include "config/unique_descriptor.h"

namespace tarnel {

namespace {

// Everything load_playlist() changes.
struct PlaylistSnapshot {
    int mode = playlist_mode;
    std::vector<std::string> list = playlist_list;
    std::vector<std::vector<std::string>> objects = object_list;
    std::vector<std::string> clock = clock_list;
    std::vector<int> item_positions = playlist_list_pos;
    std::vector<long> shuffles = last_shuffle;
    int position = playlist_pos;
    int clock_position = clock_pos;
    UniqueDescriptor directory{::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};

    void restore() {
        playlist_mode = mode;
        playlist_list = std::move(list);
        object_list = std::move(objects);
        clock_list = std::move(clock);
        playlist_list_pos = std::move(item_positions);
        last_shuffle = std::move(shuffles);
        playlist_pos = position;
        clock_pos = clock_position;
        if (directory) {
            // Back where the playlist loaded before had left it; should that fail, relative
            // paths start where the failed load's "#cd" lines led, as after a signal's reload.
            [[maybe_unused]] const int changed = fchdir(directory.get());
        }
    }
};

}  // namespace

bool reload_playlist_keeping_old() {
    PlaylistSnapshot before;
    if (load_playlist()) {
        return true;
    }
    before.restore();
    return false;
}

}  // namespace tarnel
