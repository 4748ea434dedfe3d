#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

// The log file without time stamps and without the padding spaces of the console.
std::string log_text(const TempDir& dir) {
    return without_padding(without_stamps(read_file(dir.file("tarnel.log"))));
}

std::string config_for(const LoopbackServer& server, const std::string& password) {
    return "Server=127.0.0.1\n"
           "Port=" +
           server.port_text() +
           "\n"
           "Password=" +
           password +
           "\n"
           "Playlist=playlist.plo\n"
           "AutoReconnect=no\n"
           "ScreenLog=no\n"
           "RealTime=no\n"
           "LogFile=tarnel.log\n"
           "StreamName=End To End\n"
           "Description=A test stream\n"
           "Genre=Test\n"
           "Public=no\n"
           "Bitrate=256\n"
           "Url=http://example.org/e2e\n"
           "IRC=#tarnel\n"
           "ICQ=\n"
           "AIM=\n";
}

TEST(StartupEndToEndTest, ConnectsLogsInAndAnnouncesTheStream) {
    LoopbackServer server;
    const TempDir dir;
    dir.write("tarnel.conf", config_for(server, "swapthis"));
    dir.write("playlist.plo", "#Mode=basic\nx.nsv\n");
    Process tarnel(TARNEL_BINARY, {"tarnel.conf"}, dir.path(), dir.file("out.txt"));
    // With nothing playable the program keeps trying the playlist; stop it once it has.
    ASSERT_TRUE(wait_until(
        [&] { return log_text(dir).find("Unable to open") != std::string::npos; }, 20000))
        << log_text(dir);
    tarnel.kill();

    const std::string log = log_text(dir);
    EXPECT_NE(log.find("Connecting to 127.0.0.1:" + server.port_text() +
                       "\n"
                       "Connection Success\n"
                       "icy-name:End To End ; icy-genre:Test\n"
                       "icy-pub:0 ; icy-br:256 ; icy-url:http://example.org/e2e\n"
                       "icy-irc:#tarnel ; icy-icq: ; icy-aim:\n"
                       "Playlist Pos Changed to: 1\n"
                       "Unable to open x.nsv\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(server.connection_count(), 1u);
    EXPECT_EQ(server.bytes(0),
              "swapthis\r\n"
              "content-type:video/nsv\r\n"
              "icy-metadata:1\r\n"
              "icy-name:End To End\r\n"
              "icy-description:A test stream\r\n"
              "icy-genre:Test\r\n"
              "icy-pub:0\r\n"
              "icy-br:256\r\n"
              "icy-url:http://example.org/e2e\r\n"
              "icy-irc:#tarnel\r\n"
              "icy-icq:\r\n"
              "icy-aim:\r\n"
              "icy-reset:1\r\n\r\n");
}

TEST(StartupEndToEndTest, AWrongPasswordEndsTheRunWithTheErrorLine) {
    LoopbackServer server;
    const TempDir dir;
    dir.write("tarnel.conf", config_for(server, "wrong"));
    dir.write("playlist.plo", "#Mode=basic\nx.nsv\n");
    EXPECT_EQ(run_program(TARNEL_BINARY, {"tarnel.conf"}, dir.path(), dir.file("out.txt"), 20000),
              1);
    const std::string log = log_text(dir);
    const std::string expected_tail =
        "Connecting to 127.0.0.1:" + server.port_text() + "\nError: Invalid Password\n";
    ASSERT_GE(log.size(), expected_tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - expected_tail.size()), expected_tail) << log;
    EXPECT_EQ(server.bytes(0), "wrong\r\n");
}

}  // namespace
}  // namespace tarnel::test
