// Recovery after a failed source connection: each of these waits out the 31-second countdown.

#include <gtest/gtest.h>

#include <csignal>

#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::seconds;

TEST(ReconnectionEndToEndTest, TheInterruptedFileRestartsFromItsBeginningWithItsTitle) {
    LoopbackServer server;
    TarnelRun run(server);
    NsvWriter clip;
    clip.file_header("TITLE=\"Long One\"").frames(300, 0x1E, 400, 40, 30);  // ten seconds
    clip.write(run.dir().file("long.nsv"));
    run.configure("AutoReconnect=yes\n");
    run.playlist("#Mode=basic\nlong.nsv\n");
    run.start();
    ASSERT_TRUE(server.wait_for_bytes(0, 20000, seconds(10)));
    // A configuration reload changes what the next connection announces, not the running one.
    run.configure("AutoReconnect=yes\nStreamName=Renamed\n");
    run.process().signal(SIGWINCH);
    ASSERT_TRUE(run.wait_for_log("SIGWINCH recieved; config file reloading!", seconds(5)));
    server.drop_connections();

    ASSERT_TRUE(run.wait_for_log("Error: Could not write to socket.", seconds(10))) << run.log();
    ASSERT_TRUE(server.wait_for_connections(2, seconds(40))) << run.log();
    ASSERT_TRUE(server.wait_for_bytes(1, 20000, seconds(10)));
    NsvProcessState state;
    const std::string wire = expected_stream(clip.bytes(), {}, state).wire();
    const std::string resumed = server.stream_bytes(1);
    ASSERT_GT(resumed.size(), 10000u);
    EXPECT_EQ(resumed, wire.substr(0, resumed.size()));
    EXPECT_NE(server.bytes(0).find("icy-name:Loopback\r\n"), std::string::npos);
    EXPECT_NE(server.bytes(1).find("icy-name:Renamed\r\n"), std::string::npos);
    // The countdown took the whole wait.
    EXPECT_GT(std::chrono::duration<double>(server.accepted_at(1) - server.accepted_at(0)).count(),
              30.0);
    ASSERT_TRUE(server.wait_for_admin_requests(2, seconds(5)));
    EXPECT_EQ(server.admin_requests()[1], server.admin_requests()[0]);

    run.process().kill();
    const std::string log = run.log();
    EXPECT_NE(log.find("Error: Could not write to socket.\n"
                       "Connection Success\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(count_of(log, "Connecting to "), 1u);
    EXPECT_EQ(count_of(log, "Title Updated (Long One)"), 2u);
    const std::string console = run.console();
    EXPECT_NE(console.find("Waiting to reconnect [30]"), std::string::npos);
    EXPECT_NE(console.find("Waiting to reconnect [1]"), std::string::npos);
    EXPECT_NE(console.find("Reconnecting to 127.0.0.1:" + server.port_text()), std::string::npos);
    EXPECT_EQ(log.find("Waiting to reconnect"), std::string::npos);
}

TEST(ReconnectionEndToEndTest, AWrongPasswordIsLoggedPerAttempt) {
    SourceScript wrong;
    wrong.password = "other";
    LoopbackServer server(wrong);
    TarnelRun run(server);
    run.configure("AutoReconnect=yes\nRealTime=no\n");
    run.playlist("#Mode=basic\nmissing.nsv\n");
    run.start();
    ASSERT_TRUE(run.wait_for_log("Error: Invalid Password", seconds(45), 2)) << run.log();
    // Switching reconnection off during the wait ends the run after it, without another attempt.
    run.dir().write("tarnel.conf", "AutoReconnect=no\n");
    run.process().signal(SIGWINCH);
    EXPECT_EQ(run.process().wait(40000), 1);
    EXPECT_EQ(server.connection_count(), 2u);
    EXPECT_EQ(count_of(run.log(), "Error: Invalid Password"), 2u);
    EXPECT_EQ(run.console().find("Waiting to reconnect"), std::string::npos);
}

}  // namespace
}  // namespace tarnel::test
