// The real program fed what other people made and shared directories hold: titles with line
// breaks and escape sequences, FIFOs where files should be, links planted at the paths it
// writes, a title of megabytes and ports that are no ports. It keeps streaming, and every sink
// gets what it should.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/notify_listener.h"
#include "support/nsv_writer.h"
#include "support/scoped_environment.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::seconds;

// A clip of two seconds at 30 frames per second, with a header that holds metadata when given.
NsvWriter clip(const std::string& metadata = "") {
    NsvWriter writer;
    if (!metadata.empty()) {
        writer.file_header(metadata);
    }
    writer.frames(60, 0x1E, 200, 40, 30);
    return writer;
}

void make_fifo(const std::string& path) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
}

// A title that forges a log line, a notify field and terminal commands.
TEST(HostileInputsEndToEndTest, ATitleWithControlCharactersStaysOneLineInEverySink) {
    LoopbackServer server;
    TarnelRun run(server);
    const std::string title = "Song\r\nError: forged\x1b[2J\nWATCHDOG=trigger\x1b]0;owned\x07";
    const std::string shown = "Song??Error: forged?[2J?WATCHDOG=trigger?]0;owned?";
    clip("TITLE=|" + title + "|").write(run.dir().file("a.nsv"));
    run.configure("StatusFile=status.json\n");
    run.playlist("#Mode=basic\na.nsv\n");
    NotifyListener manager(run.dir().file("notify"));
    const ScopedEnvironment notify_socket("NOTIFY_SOCKET", manager.name());
    run.start();

    ASSERT_TRUE(run.wait_for_log("Title Updated (", seconds(10))) << run.log();
    std::vector<std::string> messages;
    ASSERT_TRUE(wait_until(
        [&] {
            for (std::string m = manager.receive(milliseconds(0)); !m.empty();
                 m = manager.receive(milliseconds(0))) {
                messages.push_back(m);
            }
            return !messages.empty() && messages.back().rfind("STATUS=Streaming ", 0) == 0;
        },
        10000));
    ASSERT_TRUE(server.wait_for_admin_requests(1, milliseconds(5000)));
    run.process().kill();

    // The log file: stamped lines only, the title on its own line with "?" for each control.
    const std::string log_file = read_file(run.dir().file("tarnel.log"));
    EXPECT_TRUE(is_stamped_lines(log_file)) << log_file;
    EXPECT_NE(run.log().find("\nTitle Updated (" + shown + ")\n"), std::string::npos) << run.log();
    EXPECT_EQ(run.log().find("\nError: forged"), std::string::npos);
    // The console: no escape sequence, no forged line.
    EXPECT_EQ(run.console().find('\x1b'), std::string::npos);
    EXPECT_EQ(run.console().find("\nError: forged"), std::string::npos);
    // The service manager: one STATUS field per message, nothing it would obey.
    for (const std::string& message : messages) {
        EXPECT_EQ(message.find("\nWATCHDOG=trigger"), std::string::npos) << message;
    }
    EXPECT_EQ(messages.back(), "STATUS=Streaming " + shown + " (a.nsv)");
    // The status file.
    EXPECT_EQ(json::parse(read_file(run.dir().file("status.json")))["title"], shown);
    // The server gets the title's bytes, percent-encoded, as before.
    EXPECT_NE(server.admin_requests()[0].find("&song=Song%0D%0AError%3A%20forged%1B%5B2J%0A"),
              std::string::npos)
        << server.admin_requests()[0];
}

// open() of a FIFO that no one writes blocked for ever: the program hung before its first second,
// sent no watchdog ping, and under the unit was killed and restarted at that entry every time.
TEST(HostileInputsEndToEndTest, AFifoWhereAFileShouldBeIsRefusedAndTheStreamGoesOn) {
    LoopbackServer server;
    TarnelRun run(server);
    clip().write(run.dir().file("a.nsv"));
    make_fifo(run.dir().file("fifo.nsv"));
    make_fifo(run.dir().file("fifo.log"));
    make_fifo(run.dir().file("items.txt"));
    run.configure("LogFile=fifo.log\nRealTime=no\n");
    run.playlist(
        "#Mode=object\n#define music\n#list music\n#include items.txt\nfifo.nsv\na.nsv\n#\n"
        "#clock:\nmusic\n#\n");
    run.start();
    // The log file is a FIFO: the lines reach the console only.
    ASSERT_TRUE(wait_until([&] { return count_of(run.console(), "Opened a.nsv") >= 2; }, 20000))
        << run.console();
    EXPECT_TRUE(run.process().running());
    run.process().kill();
    const std::string console = logged_lines(run.console());
    EXPECT_NE(console.find("Warning: Failure Including items.txt for object music\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("Unable to open fifo.nsv\n"), std::string::npos) << console;
    EXPECT_GT(server.stream_bytes(0).size(), clip().bytes().size());
}

TEST(HostileInputsEndToEndTest, AFifoAsTheConfigurationOrThePlaylistEndsTheRunAtOnce) {
    struct Case {
        const char* name;
        bool fifo_configuration;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"configuration", true,
         "WARNING: configuaration file could not be loaded, assuming defaults"},
        {"playlist", false, "FATAL ERROR: Playlist (list.plo) could not be loaded!!; exiting"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackServer server;
        TarnelRun run(server);
        if (c.fifo_configuration) {
            make_fifo(run.dir().file("tarnel.conf"));
        } else {
            run.configure();
            make_fifo(run.dir().file("list.plo"));
        }
        run.start();
        // Without a playlist (the defaults name playlist.plo, which is not there) the run ends.
        EXPECT_NE(run.process().wait(10000), -1) << run.console();
        EXPECT_NE(run.console().find(c.line), std::string::npos) << run.console();
    }
}

// Run as root in a directory that other users share, a link planted at the log's path made the
// program append to any file, SIGHUP emptied it, and one planted at the status file's temporary
// name made it overwrite any file with the JSON.
TEST(HostileInputsEndToEndTest, LinksPlantedAtTheLogAndStatusPathsAreNotFollowed) {
    LoopbackServer server;
    TarnelRun run(server);
    clip().write(run.dir().file("a.nsv"));
    const std::string victim = run.dir().write("victim", "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), run.dir().file("tarnel.log").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), run.dir().file("status.json.tmp").c_str()), 0);
    run.configure("StatusFile=status.json\nRealTime=no\n");
    run.playlist("#Mode=basic\na.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 30000, seconds(10)));
    run.process().signal(SIGHUP);
    ASSERT_TRUE(wait_until(
        [&] { return run.console().find("SIGHUP recieved") != std::string::npos; }, 10000));
    ASSERT_TRUE(wait_until([&] { return file_exists(run.dir().file("status.json")); }, 10000));
    run.process().kill();
    EXPECT_EQ(read_file(victim), "precious\n");
    EXPECT_EQ(json::parse(read_file(run.dir().file("status.json")))["state"], "streaming");
}

TEST(HostileInputsEndToEndTest, AMegabyteTitleIsCutTo1KiBAndSaidSoOnce) {
    LoopbackServer server;
    TarnelRun run(server);
    const std::string title(4 * 1024 * 1024, 't');
    clip("TITLE=|" + title + "|").write(run.dir().file("big.nsv"));
    run.configure("StatusFile=status.json\nRealTime=no\n");
    run.playlist("#Mode=basic\nbig.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_admin_requests(1, milliseconds(10000))) << run.log();
    ASSERT_TRUE(server.wait_for_bytes(0, 10000, seconds(10)));
    run.process().kill();
    const std::string kept(1024, 't');
    EXPECT_EQ(count_of(run.log(),
                       "Warning: the title of big.nsv is 4194304 bytes long; only its first 1024 "
                       "bytes are used\n"),
              1u)
        << run.log().substr(0, 2000);
    EXPECT_NE(run.log().find("\nTitle Updated (" + kept + ")\n"), std::string::npos);
    EXPECT_EQ(json::parse(read_file(run.dir().file("status.json")))["title"], kept);
    EXPECT_NE(server.admin_requests()[0].find("&song=" + kept + "&url="), std::string::npos);
}

// Port= was read with atoi: "4294985368" connected to port 18073 while the log said
// ":4294985368" and the status file 18072, and "8000abc" was taken as 8000.
TEST(HostileInputsEndToEndTest, APortThatIsNoPortIsRefusedAndTheLogAndStatusFileAgree) {
    struct Case {
        std::string port;
        json shown;
    };
    const std::vector<Case> cases = {
        {"4294985368", 4294985368LL},
        {"8000abc", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        TarnelRun run(0);
        run.configure("Port=" + c.port + "\nStatusFile=status.json\nRealTime=no\n");
        clip().write(run.dir().file("a.nsv"));
        run.playlist("#Mode=basic\na.nsv\n");
        run.start();
        EXPECT_NE(run.process().wait(10000), -1);
        EXPECT_NE(run.log().find("Connecting to 127.0.0.1:" + c.port +
                                 "\nError: Could not bind to port.\n"),
                  std::string::npos)
            << run.log();
        const json status = json::parse(read_file(run.dir().file("status.json")));
        EXPECT_EQ(status["port"], c.shown);
        EXPECT_EQ(status["last_error"], "Could not bind to port.");
    }
}

}  // namespace
}  // namespace tarnel::test
