// The file picker: it lists folders and NSV files under a station's directory and nothing
// outside it, links included.

#include "web/media_picker.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace tarnel::web {
namespace {

TEST(MediaPickerTest, PathWithin) {
    EXPECT_TRUE(path_within("/srv/st", "/srv/st"));
    EXPECT_TRUE(path_within("/srv/st", "/srv/st/a.nsv"));
    EXPECT_TRUE(path_within("/", "/etc"));
    EXPECT_FALSE(path_within("/srv/st", "/srv/station/a.nsv"));  // a longer name is no child
    EXPECT_FALSE(path_within("/srv/st", "/srv"));
    EXPECT_FALSE(path_within("", "/srv"));
    EXPECT_FALSE(path_within("srv", "srv/a"));
}

class MediaPickerFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = dir_.file("station");
        outside_ = dir_.file("outside");
        mkdir(root_.c_str(), 0755);
        mkdir(outside_.c_str(), 0755);
        mkdir((root_ + "/music").c_str(), 0755);
        mkdir((root_ + "/.hidden").c_str(), 0755);
        dir_.write("station/news.nsv", "NSVf");
        dir_.write("station/B.NSV", "NSVf");
        dir_.write("station/notes.txt", "text");
        dir_.write("station/music/song.nsv", "NSVf");
        dir_.write("outside/secret.nsv", "NSVf");
        symlink("../outside", (root_ + "/escape").c_str());
        symlink("../outside/secret.nsv", (root_ + "/secret.nsv").c_str());
        symlink("music/song.nsv", (root_ + "/alias.nsv").c_str());
    }

    test::TempDir dir_;
    std::string root_;
    std::string outside_;
};

TEST_F(MediaPickerFiles, ListsFoldersFirstThenNsvFilesAndHidesTheRest) {
    const MediaListing listing = list_media(root_, "");
    ASSERT_EQ(listing.error, "");
    std::vector<std::string> names;
    for (const MediaEntry& entry : listing.entries) {
        names.push_back(entry.name + (entry.folder ? "/" : ""));
    }
    // "escape" is a link to a folder outside: listed as a folder, refused when opened.
    EXPECT_EQ(names, (std::vector<std::string>{"escape/", "music/", "B.NSV", "alias.nsv",
                                               "news.nsv", "secret.nsv"}));
    const MediaListing music = list_media(root_, "music");
    ASSERT_EQ(music.entries.size(), 1u);
    EXPECT_EQ(music.entries[0].name, "song.nsv");
}

TEST_F(MediaPickerFiles, NothingOutsideTheDirectoryIsListedOrResolved) {
    for (const char* outside : {"..", "../outside", "music/../..", "escape", "escape/secret.nsv",
                                "secret.nsv", "/etc", "missing.nsv"}) {
        const MediaListing listing = list_media(root_, outside);
        EXPECT_FALSE(listing.error.empty()) << outside;
        EXPECT_TRUE(listing.entries.empty()) << outside;
        std::string reason;
        EXPECT_FALSE(resolve_within(root_, outside, reason).has_value()) << outside;
        EXPECT_FALSE(reason.empty()) << outside;
    }
    std::string reason;
    const std::string real_root = resolve_within(root_, "", reason).value();
    EXPECT_EQ(resolve_within(root_, "music/../news.nsv", reason), real_root + "/news.nsv");
    EXPECT_EQ(resolve_within(root_, "alias.nsv", reason), real_root + "/music/song.nsv");
    EXPECT_FALSE(resolve_within("relative/dir", "news.nsv", reason).has_value());
}

TEST(MediaPickerTest, MediaNames) {
    EXPECT_TRUE(is_media_name("a.nsv"));
    EXPECT_TRUE(is_media_name("A.NsV"));
    EXPECT_FALSE(is_media_name(".nsv"));
    EXPECT_FALSE(is_media_name("a.nsv.txt"));
    EXPECT_FALSE(is_media_name("nsv"));
}

}  // namespace
}  // namespace tarnel::web
