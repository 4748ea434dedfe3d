#include "tools/station_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>

#include "config/playlist.h"
#include "config/settings.h"
#include "support/nsv_writer.h"
#include "support/temp_dir.h"
#include "tools/check_report.h"

namespace tarnel::test {
namespace {

namespace fs = std::filesystem;

// Two seconds at 30 frames/s, VP62/MP3 320x240, about 121 kbit/s in each second.
std::string clip(const std::string& title) {
    NsvWriter writer;
    writer.file_header("TITLE=\"" + title + "\"").frames(60, 0x1E, 400, 100, 30);
    return writer.bytes();
}

const char* const kConfig = "Playlist=playlist.plo\nLogFile=station.log\nBitrate=200\n";
const char* const kPlaylist =
    "#Mode=object\n"
    "#define music\n"
    "#define ads\n"
    "#list music\n"
    "media/a.nsv\n"
    "media/b.nsv\n"
    "#shuffle 3600\n"
    "#\n"
    "#list ads\n"
    "media/ad.nsv\n"
    "#\n"
    "#clock:\n"
    "music\n"
    "music\n"
    "ads\n"
    "#\n";

// A small station in a temporary directory: configuration, object playlist, three clips.
class Station {
  public:
    Station() {
        fs::create_directories(dir.file("media"));
        write("tarnel.conf", kConfig);
        write("playlist.plo", kPlaylist);
        write("media/a.nsv", clip("A"));
        write("media/b.nsv", clip("B"));
        write("media/ad.nsv", clip("Ad"));
    }
    void write(const std::string& name, const std::string& bytes) const {
        fs::create_directories(fs::path(dir.file(name)).parent_path());
        dir.write(name, bytes);
    }
    // Every file and directory below the station with its size and modification time.
    std::map<std::string, std::string> listing() const {
        std::map<std::string, std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            const auto stamp = entry.last_write_time().time_since_epoch().count();
            out[entry.path().string()] =
                (entry.is_regular_file() ? std::to_string(entry.file_size()) : "dir") + " " +
                std::to_string(stamp);
        }
        return out;
    }

    TempDir dir;
};

class StationCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_settings();
        reset_playlist();
    }
    void TearDown() override {
        reset_settings();
        reset_playlist();
    }

    // Checks the station from its directory, as `tarnel-nsv check` run there would.
    StationReport check(const Station& station, const std::string& config = "tarnel.conf") {
        reset_settings();
        reset_playlist();
        const ScopedChdir here(station.dir.path());
        return check_station(config);
    }
};

TEST_F(StationCheckTest, CleanStationHasNoFindingsAndItsFigures) {
    const Station station;
    const auto before = fs::current_path();
    const auto files = station.listing();
    const StationReport report = check(station);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(station.listing(), files);  // nothing written, not even the log file

    const std::string text = format_check_text(report, true);
    EXPECT_TRUE(report.findings.empty()) << text;
    EXPECT_EQ(check_status(report, true), 0);
    ASSERT_EQ(report.media.size(), 3u);
    const MediaFacts& a = report.media[0];
    EXPECT_EQ(a.entry, "media/a.nsv");
    EXPECT_EQ(a.title, "A");
    EXPECT_TRUE(a.playable);
    EXPECT_DOUBLE_EQ(a.seconds, 2.0);
    EXPECT_EQ(a.nsv.seconds_sent, 2u);
    // Each second: a sync frame (19-byte prefix) and 29 continuation frames (2-byte prefix), each
    // with a 5-byte header and 500 bytes of payload.
    EXPECT_NEAR(a.peak_kbps, (30 * 505 + 19 + 29 * 2) * 8 / 1000.0, 0.001);
    EXPECT_NEAR(a.average_kbps, a.peak_kbps, 0.001);
    ASSERT_EQ(report.objects.size(), 2u);
    EXPECT_EQ(report.objects[0].clock_steps, 2u);
    EXPECT_DOUBLE_EQ(report.objects[0].seconds, 4.0);
    ASSERT_EQ(report.objects[0].markers.size(), 1u);
    EXPECT_EQ(report.objects[0].markers[0].action,
              "shuffles the other 2 items of music when it is reached, at most once every 3600 s");
    EXPECT_DOUBLE_EQ(report.clock_seconds, 6.0);  // music, music, ads: 2 s each
    for (const char* part :
         {"No problems found.\n", "  object music: 3 items, 2 files, 0:04 in all, on the clock 2",
          "  clock: 3 steps (music, music, ads); one pass takes about 0:06 (0:06 to 0:06)\n",
          "  media/a.nsv: \"A\", VP62/MP3 320x240, 30.00 fps, 60 frames, 0:02, average 122 "
          "kbit/s, peak 122 kbit/s\n",
          "  Loading Playlist playlist.plo\n",
          "Summary: 3 media files, 3 playable; 0 errors, 0 warnings: nothing needs fixing.\n"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nin\n" << text;
    }
}

struct FaultCase {
    const char* name;
    std::function<void(Station&)> make;
    Severity severity;
    const char* problem;
    const char* file;
    const char* detail_part;
    int status;  // without --strict
};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Writes the playlist with one text of the clean one replaced.
std::function<void(Station&)> playlist_with(const std::string& from, const std::string& to) {
    return [=](Station& s) { s.write("playlist.plo", replaced(kPlaylist, from, to)); };
}

std::function<void(Station&)> media(const std::string& name, std::function<void(NsvWriter&)> f) {
    return [=](Station& s) {
        NsvWriter writer;
        f(writer);
        s.write(name, writer.bytes());
    };
}

// The playlist with "#cd media" first and the entries relative to it, extra added to music.
std::function<void(Station&)> cd_media_playlist(const std::string& extra) {
    std::string text = replaced(kPlaylist, "#define music\n", "#cd media\n#define music\n");
    for (const char* name : {"a.nsv", "b.nsv", "ad.nsv"}) {
        text = replaced(text, "media/" + std::string(name), name);
    }
    text = replaced(text, "#shuffle", extra + "#shuffle");
    return [=](Station& s) { s.write("playlist.plo", text); };
}

const FaultCase kFaults[] = {
    // Errors: what tarnel cannot play, or a playlist structure that drops what was written.
    {"missing entry", [](Station& s) { fs::remove(s.dir.file("media/b.nsv")); }, Severity::kError,
     "entry cannot be opened", "media/b.nsv",
     "Unable to open media/b.nsv (No such file or directory)", 1},
    {"entry is a directory",
     [](Station& s) {
         fs::remove(s.dir.file("media/b.nsv"));
         fs::create_directories(s.dir.file("media/b.nsv"));
     },
     Severity::kError, "entry cannot be opened", "media/b.nsv", "a directory, not a file", 1},
    {"truncated file",
     media("media/b.nsv", [](NsvWriter& w) { w.frames(45, 0x1E, 400, 100, 30).cut(7); }),
     Severity::kError, "truncated frame", "media/b.nsv", "file ends inside the payload", 1},
    {"unrecognised frame start",
     media("media/b.nsv", [](NsvWriter& w) { w.frames(40, 0x1E, 400, 100).raw("garbage!"); }),
     Severity::kError, "unrecognised frame start", "media/b.nsv",
     "neither a sync nor a continuation frame", 1},
    {"bad header size",
     media("media/b.nsv", [](NsvWriter& w) { w.file_header_raw(20, "").frames(30, 0x1E, 9, 1); }),
     Severity::kError, "bad header size", "media/b.nsv", "header size 20 is below 28", 1},
    {"no frame rate", media("media/b.nsv", [](NsvWriter& w) { w.frames(60, 0x84, 400, 100, 30); }),
     Severity::kError, "frame rate unset", "media/b.nsv", "send the whole file at once", 1},
    {"no sync frame",
     media("media/b.nsv",
           [](NsvWriter& w) { w.continuation_frame(400, 100).continuation_frame(4, 1); }),
     Severity::kError, "no sync frame", "media/b.nsv", "no formats", 1},
    {"empty file", [](Station& s) { s.write("media/b.nsv", ""); }, Severity::kError, "no frames",
     "media/b.nsv", "no complete frame", 1},
    {"clock step misspelt", playlist_with("ads\n#\n", "adds\n#\n"), Severity::kError,
     "clock step names no object", "playlist.plo",
     "Warning: 'adds' in clock not defined, ignoring.", 1},
    {"list names no object", playlist_with("#list ads", "#list adverts"), Severity::kError,
     "list names no object", "playlist.plo", "\"#list adverts\" names no object", 1},
    {"include missing", playlist_with("media/ad.nsv\n", "media/ad.nsv\n#include ads.txt\n"),
     Severity::kError, "include cannot be opened", "ads.txt",
     "Warning: Failure Including ads.txt for object ads", 1},
    {"cd to a missing directory",
     playlist_with("#define music\n", "#cd /nonexistent/media\n#define music\n"), Severity::kError,
     "directory change failed", "playlist.plo",
     "\"#cd /nonexistent/media\": No such file or directory", 1},
    {"playlist missing", [](Station& s) { fs::remove(s.dir.file("playlist.plo")); },
     Severity::kError, "playlist cannot be loaded", "playlist.plo",
     "cannot open playlist.plo (No such file or directory)", 1},
    {"mode line missing", playlist_with("#Mode=object\n", ""), Severity::kError,
     "playlist cannot be loaded", "playlist.plo", "Error: Mode designator must be first line", 1},
    {"no clock", playlist_with("#clock:", "#clock-"), Severity::kError, "playlist cannot be loaded",
     "playlist.plo", "Error: Clock must have at least 1 object", 1},
    {"object on the clock with nothing playable", playlist_with("media/ad.nsv\n", "#shuffle\n"),
     Severity::kError, "object on the clock has nothing playable", "playlist.plo",
     "none of the 1 items of \"ads\" can be played", 1},
    {"reload after cd fails", cd_media_playlist("#reload\n"), Severity::kError,
     "reload would end the run", "playlist.plo",
     "the #reload item of music fails: playlist.plo cannot be opened from", 1},
    {"basic playlist without entries", [](Station& s) { s.write("playlist.plo", "#Mode=basic\n"); },
     Severity::kError, "nothing to play", "playlist.plo", "the playlist has no entries", 1},
    {"playlist of comments only", [](Station& s) { s.write("playlist.plo", "; to do\n\n"); },
     Severity::kError, "nothing to play", "playlist.plo", "the playlist has no lines", 1},
    {"entry is a FIFO",
     [](Station& s) {
         fs::remove(s.dir.file("media/b.nsv"));
         ASSERT_EQ(mkfifo(s.dir.file("media/b.nsv").c_str(), 0600), 0);
     },
     Severity::kError, "entry cannot be opened", "media/b.nsv",
     "Unable to open media/b.nsv (not a regular file)", 1},
    {"port with letters",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Port=8000abc\n"); },
     Severity::kError, "port is not valid", "tarnel.conf",
     "Port=8000abc is not a whole number from 1 to 65535: tarnel cannot connect", 1},
    {"port out of range",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Port=4294985368\n"); },
     Severity::kError, "port is not valid", "tarnel.conf", "Port=4294985368 is not a whole", 1},
    {"legacy source port out of range",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Port=65535\n"); },
     Severity::kError, "port is not valid", "tarnel.conf", "port + 1, which is no port", 1},
    {"empty server", [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Server=\n"); },
     Severity::kError, "server is empty", "tarnel.conf", "Server= is empty", 1},
    {"mount with a query",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Mount=/live?x=1\n"); },
     Severity::kError, "mount is not a plain path", "tarnel.conf",
     "Mount=/live?x=1 holds a \"?\": the server reads the mount only up to it", 1},
    {"mount with a space",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "Mount=/my live\n"); },
     Severity::kError, "mount is not a plain path", "tarnel.conf", "holds a space", 1},
    {"TLS trust file missing",
     [](Station& s) {
         s.write("tarnel.conf", std::string(kConfig) + "TLS=yes\nTLSCAFile=ca.pem\nMount=/m\n");
     },
     Severity::kError, "TLS trust file cannot be used", "tarnel.conf",
     "TLSCAFile=ca.pem: No such file or directory; every connection fails with", 1},
    {"TLS trust file without a certificate",
     [](Station& s) {
         s.write("ca.pem", "not a certificate\n");
         s.write("tarnel.conf", std::string(kConfig) + "TLS=yes\nTLSCAFile=ca.pem\nMount=/m\n");
     },
     Severity::kError, "TLS trust file cannot be used", "tarnel.conf",
     "TLSCAFile=ca.pem: it holds no PEM certificate", 1},

    // Warnings: the station plays, but something is probably not what was meant.
    {"configuration missing", [](Station& s) { fs::remove(s.dir.file("tarnel.conf")); },
     Severity::kWarning, "configuration file missing", "tarnel.conf",
     "WARNING: configuaration file could not be loaded, assuming defaults; Configuration file "
     "tarnel.conf (in ",
     0},
    {"unknown key",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "; note\nBitrat=128\n"); },
     Severity::kWarning, "unknown configuration key", "tarnel.conf",
     "line 5: \"Bitrat=128\" is no key", 0},
    {"mode designator invalid",
     [](Station& s) { s.write("playlist.plo", "#Mode=basik\nmedia/a.nsv\n"); }, Severity::kWarning,
     "mode designator invalid", "playlist.plo", "asumming basic mode", 0},
    {"later mode line", playlist_with("#define ads\n", "#define ads\n#Mode=basic\n"),
     Severity::kWarning, "mode line ignored", "playlist.plo", "found on line 4", 0},
    {"line outside any section", playlist_with("#clock:", "media/lost.nsv\n#clock:"),
     Severity::kWarning, "line ignored", "playlist.plo", "\"media/lost.nsv\" stands outside", 0},
    {"object without items", playlist_with("#define ads\n", "#define ads\n#define spare\n"),
     Severity::kWarning, "object has no items", "playlist.plo",
     "\"spare\" is defined but has no items", 0},
    {"object never on the clock", playlist_with("ads\n#\n", "music\n#\n"), Severity::kWarning,
     "object never on the clock", "playlist.plo", "\"ads\" is defined but the clock never names it",
     0},
    {"object defined twice", playlist_with("#define ads\n", "#define ads\n#define music\n"),
     Severity::kWarning, "object defined twice", "playlist.plo",
     "\"music\" is defined 2 times: \"#list\" fills the last one", 0},
    {"shuffle interval misread", playlist_with("#shuffle 3600", "#shuffle 1h"), Severity::kWarning,
     "shuffle marker", "playlist.plo", "\"#shuffle 1h\" of music: the interval is read as 1 s", 0},
    {"picture size changes",
     media("media/ad.nsv",
           [](NsvWriter& w) {
               SyncFields small;
               small.width = 160;
               small.height = 120;
               w.sync_frame(400, 100, small);
               for (int i = 1; i < 60; ++i) {
                   w.continuation_frame(400, 100);
               }
           }),
     Severity::kWarning, "picture size or codes change", "media/ad.nsv",
     "VP62/MP3 160x120, while 2 of 3 files are VP62/MP3 320x240", 0},
    {"peak above Bitrate=",
     [](Station& s) { s.write("tarnel.conf", replaced(kConfig, "Bitrate=200", "Bitrate=64")); },
     Severity::kWarning, "peak bit rate above Bitrate=", "media/a.nsv",
     "peak 122 kbit/s in one second (average 122) against Bitrate=64", 0},
    {"first sync frame without a rate",
     media("media/b.nsv",
           [](NsvWriter& w) {
               w.sync_frame(400, 100, 0x84);
               w.frames(59, 0x1E, 400, 100);
           }),
     Severity::kWarning, "frame rate unset", "media/b.nsv", "a later sync frame sets the rate", 0},
    {"reload by signal after cd fails", cd_media_playlist(""), Severity::kWarning,
     "reload would end the run", "playlist.plo", "a reload by SIGUSR1 fails", 0},
    {"title with a line break and an escape",
     media("media/b.nsv",
           [](NsvWriter& w) {
               w.file_header("TITLE=|B\r\n\x1b[2J|").frames(60, 0x1E, 400, 100, 30);
           }),
     Severity::kWarning, "title has control characters", "media/b.nsv",
     "\"B\\x0d\\x0a\\x1b[2J\": tarnel shows each control character as \"?\"", 0},
    {"title of 4 KiB",
     media(
         "media/b.nsv",
         [](NsvWriter& w) {
             w.file_header("TITLE=|" + std::string(4096, 't') + "|").frames(60, 0x1E, 400, 100, 30);
         }),
     Severity::kWarning, "title longer than 1 KiB", "media/b.nsv",
     "the title is 4096 bytes long; tarnel uses only its first 1024 bytes", 0},
    {"log directory missing",
     [](Station& s) {
         s.write("tarnel.conf", replaced(kConfig, "station.log", "logs/station.log"));
     },
     Severity::kWarning, "log file cannot be written", "tarnel.conf",
     "/logs: No such file or directory; tarnel writes no log file", 0},
    {"log file is a link",
     [](Station& s) {
         s.write("elsewhere.log", "");
         fs::create_symlink("elsewhere.log", s.dir.file("station.log"));
     },
     Severity::kWarning, "log file cannot be written", "tarnel.conf",
     "LogFile=station.log: it is a symbolic link, which tarnel does not follow", 0},
    {"TLS trust file missing without TLS",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "TLSCAFile=ca.pem\n"); },
     Severity::kWarning, "TLS trust file cannot be used", "tarnel.conf",
     "(TLS=yes is not set, so it is not used now)", 0},
    {"password key misspelt",
     [](Station& s) { s.write("tarnel.conf", std::string(kConfig) + "password=hunter2\n"); },
     Severity::kWarning, "unknown configuration key", "tarnel.conf",
     "line 4: \"password=***\" is no key", 0},
};

// check quoted unrecognised lines word for word: a mistyped password key, a blank before "=" and
// the rest of a password longer than tarnel reads at once all showed the secret.
TEST_F(StationCheckTest, NoReportShowsAPassword) {
    Station station;
    station.write("tarnel.conf", std::string(kConfig) + "password=hunter2\nPassword =opensesame\n" +
                                     "Password=" + std::string(250, 'x') + "tailsecret\n" +
                                     "SourcePwd: letmein\nGenre=Jazz\n");
    const StationReport report = check(station);
    const std::string text = format_check_text(report, false);
    const std::string json = format_check_json(report, false);
    for (const char* secret : {"hunter2", "opensesame", "tailsecret", "letmein"}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret << "\nin\n" << text;
        EXPECT_EQ(json.find(secret), std::string::npos) << secret << "\nin\n" << json;
    }
    for (const char* part :
         {"line 4: \"password=***\" is no key; ignored", "line 5: \"Password =***\" is no key",
          "line 7: \"***\" (the rest of a line of more than 254 characters whose key looks like "
          "a password; tarnel keeps only the first 254 characters of that line) is no key",
          "line 8: \"SourcePwd: ***\" is no key"}) {
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nin\n" << text;
    }
}

TEST_F(StationCheckTest, EachFaultGivesItsReportLineAndStatus) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        Station station;
        c.make(station);
        const auto files = station.listing();
        const StationReport report = check(station);
        EXPECT_EQ(station.listing(), files);
        const std::string text = format_check_text(report, false);

        const std::string line = "  " + std::string(c.problem) + ":\n    " + c.file + ": ";
        const size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line << "\nin\n" << text;
        const size_t warnings = text.find("Warnings (");
        if (c.severity == Severity::kError) {
            EXPECT_LT(text.find("Errors ("), at) << text;
            EXPECT_TRUE(warnings == std::string::npos || warnings > at) << text;
        } else {
            EXPECT_LT(warnings, at) << text;
        }
        const std::string rest = text.substr(at + line.size());
        EXPECT_NE(rest.substr(0, rest.find("\n  ")).find(c.detail_part), std::string::npos)
            << c.detail_part << "\nin\n"
            << text;
        EXPECT_EQ(check_status(report, false), c.status) << text;
        EXPECT_EQ(check_status(report, true), 1);
    }
}

}  // namespace
}  // namespace tarnel::test
