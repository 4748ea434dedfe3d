// End to end: a station made with scripts/make-nsv passes tarnel-nsv check; the same station with
// a file cut short, an entry renamed and a clock step misspelt fails it, with each fault reported.
#include <gtest/gtest.h>

#include <filesystem>

#include "nsv_tool_path.h"
#include "support/media.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(CheckE2eTest, MadeStationPassesAndItsFaultsAreFound) {
    if (!have_ffmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir dir;
    fs::create_directory(dir.file("media"));
    std::string diagnostics;
    for (const char* name : {"one", "two", "three"}) {
        ASSERT_NE(make_clip(dir.file("media"), name, name, 2, diagnostics), "") << diagnostics;
    }
    // An absolute playlist path: after "#cd media" a reload still finds it.
    const std::string playlist_path = dir.file("station.plo");
    dir.write("tarnel.conf", "Playlist=" + playlist_path + "\nLogFile=tarnel.log\nBitrate=1000\n");
    const std::string playlist =
        "#Mode=object\n"
        "#cd media\n"
        "#define songs\n"
        "#define jingles\n"
        "#list songs\n"
        "one.nsv\n"
        "two.nsv\n"
        "#\n"
        "#list jingles\n"
        "three.nsv\n"
        "#\n"
        "#clock:\n"
        "songs\n"
        "jingles\n"
        "#\n";
    dir.write("station.plo", playlist);
    const std::string out = dir.file("out.txt");
    EXPECT_EQ(run_program(nsv_tool_path(), {"check"}, dir.path(), out), 0) << read_file(out);
    std::string report = read_file(out);
    EXPECT_NE(report.find("No problems found.\n"), std::string::npos) << report;
    EXPECT_NE(report.find("  one.nsv: \"one\", VP80/MP3 160x120, 30.00 fps, 60 frames, 0:02"),
              std::string::npos)
        << report;

    fs::resize_file(dir.file("media/two.nsv"), fs::file_size(dir.file("media/two.nsv")) - 100);
    fs::rename(dir.file("media/three.nsv"), dir.file("media/jingle.nsv"));
    std::string broken = playlist;
    broken.replace(broken.find("jingles\n#\n"), 7, "jingels");
    dir.write("station.plo", broken);
    EXPECT_EQ(run_program(nsv_tool_path(), {"check"}, dir.path(), out), 1) << read_file(out);
    report = read_file(out);
    for (const std::string& part :
         {"  truncated frame:\n    two.nsv: at offset "s,
          "  entry cannot be opened:\n    three.nsv: Unable to open three.nsv (No such file or "
          "directory)\n"s,
          "  clock step names no object:\n    " + playlist_path +
              ": Warning: 'jingels' in clock not defined, ignoring.\n"}) {
        EXPECT_NE(report.find(part), std::string::npos) << part << "\nin\n" << report;
    }
    EXPECT_FALSE(file_exists(dir.file("tarnel.log")));
    EXPECT_FALSE(file_exists(dir.file("media/tarnel.log")));
}

}  // namespace
}  // namespace tarnel::test
