// libFuzzer target: arbitrary bytes as the playlist file "list.plo" and as a second file
// "inc.txt" that object lists can "#include", loaded by load_playlist in both modes, then walked
// by the driver's selection and advance steps (with "#reload" and "#shuffle" markers carried
// out). Each input runs in a scratch directory (where "inc.txt" is); a "#cd" line changes the
// working directory, so the fuzzer's own is put back after every input. Checks what must hold for
// any input: an object mode load that succeeds has a clock naming defined objects, every object has
// its name, the per-object positions cover every object, and a selected entry is an entry of the
// lists.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "config/log.h"
#include "config/playlist.h"
#include "config/settings.h"
#include "driver/driver_state.h"
#include "driver/playlist_traversal.h"
#include "support/temp_dir.h"

namespace {

constexpr int kMaxSteps = 64;

const tarnel::test::TempDir& scratch() {
    static const tarnel::test::TempDir dir;
    return dir;
}

void fail(const char* what) {
    std::fprintf(stderr, "playlist_loader_fuzz: %s\n", what);
    std::abort();
}

bool in_lists(const std::string& entry) {
    if (std::find(tarnel::playlist_list.begin(), tarnel::playlist_list.end(), entry) !=
        tarnel::playlist_list.end()) {
        return true;
    }
    for (const auto& object : tarnel::object_list) {
        if (std::find(object.begin() + 1, object.end(), entry) != object.end()) {
            return true;
        }
    }
    return false;
}

void check_lists() {
    for (const auto& object : tarnel::object_list) {
        if (object.empty()) {
            fail("an object without its name");
        }
    }
    if (tarnel::playlist_list_pos.size() < tarnel::object_list.size() ||
        tarnel::last_shuffle.size() < tarnel::object_list.size()) {
        fail("positions do not cover every object");
    }
}

void check_clock() {
    for (const std::string& name : tarnel::clock_list) {
        const bool defined = std::any_of(tarnel::object_list.begin(), tarnel::object_list.end(),
                                         [&](const auto& object) { return object[0] == name; });
        if (!defined) {
            fail("the clock names an undefined object");
        }
    }
}

// Selects and advances like the driver, with the stream outcome chosen by the input.
void walk(FuzzedDataProvider& provider) {
    tarnel::DriverState state;
    for (int step = 0; step < kMaxSteps && provider.remaining_bytes() > 0; ++step) {
        switch (tarnel::select_entry(state)) {
            case tarnel::Selection::kReloadFailed:
                return;
            case tarnel::Selection::kPlay:
                if (!in_lists(state.current_entry)) {
                    fail("the selected entry is in no list");
                }
                if (provider.ConsumeBool()) {
                    tarnel::advance_after_file(state);
                } else {
                    tarnel::advance_after_failed_open(state);
                }
                break;
            case tarnel::Selection::kMarker:
            case tarnel::Selection::kNothing:
                break;
        }
        check_lists();
        if (tarnel::playlist_pass_length() < 1) {
            fail("a pass of no selections");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::ostream discard(nullptr);
    tarnel::set_console(&discard);
    // The fuzzer's own directory, where libFuzzer reads and writes its corpus between inputs.
    static const std::string home = [] {
        char buffer[4096];
        if (getcwd(buffer, sizeof buffer) == nullptr) {
            std::abort();
        }
        return std::string(buffer);
    }();
    if (chdir(scratch().path().c_str()) != 0) {
        std::abort();
    }

    FuzzedDataProvider provider(data, size);
    const std::string included = provider.ConsumeRandomLengthString(4096);
    const std::string walk_bytes = provider.ConsumeRandomLengthString(256);
    const std::string listed = provider.ConsumeRemainingBytesAsString();
    scratch().write("inc.txt", included);

    tarnel::reset_settings();
    tarnel::reset_playlist();
    tarnel::screenlog = false;
    tarnel::logfile = "NULL";
    tarnel::playlist = scratch().write("list.plo", listed);

    const bool loaded = tarnel::load_playlist();
    check_lists();
    if (loaded && tarnel::playlist_mode == tarnel::kPlaylistObject) {
        if (tarnel::clock_list.empty()) {
            fail("an object playlist loaded without a clock");
        }
        check_clock();
    }
    if (loaded) {
        FuzzedDataProvider walker(reinterpret_cast<const uint8_t*>(walk_bytes.data()),
                                  walk_bytes.size());
        walk(walker);
    }
    if (chdir(home.c_str()) != 0) {
        std::abort();
    }
    return 0;
}
