#include "driver/source_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "config/settings.h"
#include "driver/connection_loop.h"
#include "driver/driver_state.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"
#include "support/console_capture.h"
#include "support/loopback_server.h"
#include "support/net_settings.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const char* const kDefaultHeaderBlock =
    "content-type:video/nsv\r\n"
    "icy-metadata:1\r\n"
    "icy-name:Unnamed Server\r\n"
    "icy-genre:Unknown Genre\r\n"
    "icy-pub:1\r\n"
    "icy-br:0\r\n"
    "icy-url:https://example.org/tarnel\r\n"
    "icy-irc:N/A\r\n"
    "icy-icq:N/A\r\n"
    "icy-aim:N/A\r\n"
    "icy-reset:1\r\n\r\n";

const char* const kDefaultLoginLog =
    "\rConnection Success\n"
    "icy-name:Unnamed Server ; icy-genre:Unknown Genre\n"
    "icy-pub:1 ; icy-br:0 ; icy-url:https://example.org/tarnel\n"
    "icy-irc:N/A ; icy-icq:N/A ; icy-aim:N/A\n";

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line;
    }
    return all;
}

TEST(SourcePortTest, IsTheBasePortPlusOneOrNoPortWhenPortIsNotOne) {
    const ScopedNetSettings settings;
    // 0 is refused by every connection, and 65536 too.
    for (const auto& [text, expected] :
         std::vector<std::pair<std::string, int>>{{"8000", 8001},
                                                  {"08000", 8001},
                                                  {"65535", 65536},
                                                  {"8000x", 0},
                                                  {"abc", 0},
                                                  {"", 0},
                                                  {" 42", 0},
                                                  {"+42", 0},
                                                  {"0", 0},
                                                  {"65536", 0},
                                                  {"4294985368", 0}}) {
        port = text;
        EXPECT_EQ(source_port(), expected) << '"' << text << '"';
    }
}

TEST(SourceHeaderLinesTest, DefaultsLeaveOutTheEmptyDescription) {
    const ScopedNetSettings settings;
    EXPECT_EQ(joined(source_header_lines()), kDefaultHeaderBlock);
    EXPECT_EQ(source_header_lines().size(), 11u);  // one send per line
}

TEST(SourceHeaderLinesTest, ValuesAreSentRawAndEmptyOnesStillGetTheirLine) {
    const ScopedNetSettings settings;
    streamname = " My  Stream ";
    description = "About: it";
    genre = "";
    ispublic = "0";
    bitrate = "300 kbps";
    url = "";
    irc = "#chan";
    icq = "";
    aim = "";
    const std::vector<std::string> expected = {"content-type:video/nsv\r\n",
                                               "icy-metadata:1\r\n",
                                               "icy-name: My  Stream \r\n",
                                               "icy-description:About: it\r\n",
                                               "icy-genre:\r\n",
                                               "icy-pub:0\r\n",
                                               "icy-br:300 kbps\r\n",
                                               "icy-url:\r\n",
                                               "icy-irc:#chan\r\n",
                                               "icy-icq:\r\n",
                                               "icy-aim:\r\n",
                                               "icy-reset:1\r\n\r\n"};
    EXPECT_EQ(source_header_lines(), expected);
    EXPECT_EQ(source_summary_lines(),
              (std::vector<std::string>{
                  "icy-name: My  Stream  ; icy-genre:", "icy-pub:0 ; icy-br:300 kbps ; icy-url:",
                  "icy-irc:#chan ; icy-icq: ; icy-aim:"}));
}

TEST(SourceHeaderLinesTest, ControlCharactersInASettingCannotStartAHeaderOfTheirOwn) {
    const ScopedNetSettings settings;
    streamname = "Radio\x1b[2J";
    genre = "Pop\tRock";
    url = "http://x.org/\x7f";
    const std::vector<std::string> lines = source_header_lines();
    EXPECT_EQ(lines[2], "icy-name:Radio?[2J\r\n");
    EXPECT_EQ(lines[3], "icy-genre:Pop?Rock\r\n");
    EXPECT_EQ(lines[6], "icy-url:http://x.org/?\r\n");
}

TEST(LoginAcceptedTest, LooksForOk2AnywhereInTheReply) {
    struct Case {
        const char* reply;
        bool accepted;
    };
    for (const Case& c :
         {Case{"OK2\r\nicy-caps:11\r\n\r\n", true}, Case{"OK2", true},
          Case{"HTTP/1.0 200 OK2\r\n", true}, Case{"OK\r\n", false}, Case{"ok2", false},
          Case{"Invalid Password\r\n", false}, Case{"", false}}) {
        EXPECT_EQ(login_accepted(c.reply), c.accepted) << c.reply;
    }
}

class OpenSourceConnectionTest : public ::testing::Test {
  protected:
    void start(const SourceScript& script) {
        server_ = std::make_unique<LoopbackServer>(script);
        port = server_->port_text();
    }

    // The text of the SocketException that opening throws, or "" when it succeeds.
    std::string open_failure() {
        try {
            open_source_connection();
        } catch (const SocketException& error) {
            return error.text();
        }
        return "";
    }

    // The console log without time stamps, and without the spaces that blank out the rest of a
    // longer line written before.
    std::string log() const { return without_padding(without_stamps(console_.text())); }

    ScopedNetSettings settings_;
    ConsoleCapture console_;
    std::unique_ptr<LoopbackServer> server_;
};

TEST_F(OpenSourceConnectionTest, LogsInAndAnnouncesTheStreamByteForByte) {
    start({});
    {
        const ClientSocket connection = open_source_connection();
        const auto returned = Clock::now();
        ASSERT_TRUE(server_->wait_for_bytes(0, 10 + std::string(kDefaultHeaderBlock).size(),
                                            milliseconds(5000)));
        // The server has had time to settle the log-in before the connection is used.
        EXPECT_GE(returned - server_->chunks(0).back().time, milliseconds(150));
        connection.swrite("NSV", 3);
        ASSERT_TRUE(server_->wait_for_bytes(0, 10 + std::string(kDefaultHeaderBlock).size() + 3,
                                            milliseconds(5000)));
    }
    EXPECT_EQ(server_->connection_count(), 1u);
    EXPECT_EQ(server_->bytes(0), std::string("swapthis\r\n") + kDefaultHeaderBlock + "NSV");
    EXPECT_EQ(server_->stream_bytes(0), "NSV");
    EXPECT_EQ(log(), kDefaultLoginLog);
}

TEST_F(OpenSourceConnectionTest, AServerThatAnswersOnlyAfterTheHeaderBlockIsServedOnce) {
    net_timeouts.early_reply = milliseconds(200);
    SourceScript script;
    script.behaviour = SourceBehaviour::kReplyAfterHeaders;
    start(script);
    password = "swapthis";
    {
        const ClientSocket connection = open_source_connection();
        connection.swrite("NSV", 3);
        ASSERT_TRUE(server_->wait_for_bytes(0, 10 + std::string(kDefaultHeaderBlock).size() + 3,
                                            milliseconds(5000)));
    }
    EXPECT_EQ(server_->bytes(0), std::string("swapthis\r\n") + kDefaultHeaderBlock + "NSV");
    EXPECT_EQ(log(), kDefaultLoginLog);
}

TEST_F(OpenSourceConnectionTest, EachFailureHasItsText) {
    net_timeouts.early_reply = milliseconds(200);
    net_timeouts.receive = milliseconds(300);
    struct Case {
        const char* name;
        SourceScript script;
        const char* failure;
        const char* bytes_seen;  // what reached the server
    };
    SourceScript wrong_password;
    wrong_password.password = "other";
    SourceScript closes;  // after reading the password line, without a reply
    closes.behaviour = SourceBehaviour::kNeverAnswer;
    closes.close_after = 10;
    SourceScript ok2_later;
    ok2_later.behaviour = SourceBehaviour::kReplyInPieces;
    ok2_later.pieces = {"ICY 200 ", "OK2\r\n"};
    SourceScript late_wrong_password = wrong_password;
    late_wrong_password.behaviour = SourceBehaviour::kReplyAfterHeaders;
    SourceScript silent;
    silent.behaviour = SourceBehaviour::kNeverAnswer;
    const std::string with_headers = std::string("swapthis\r\n") + kDefaultHeaderBlock;
    const std::vector<Case> cases = {
        {"wrong password", wrong_password, "Invalid Password", "swapthis\r\n"},
        {"closed without a reply", closes, "Could not read from socket.", "swapthis\r\n"},
        {"OK2 only in a later piece", ok2_later, "Invalid Password", "swapthis\r\n"},
        {"late server, wrong password", late_wrong_password, "Could not read from socket.",
         with_headers.c_str()},
        {"never answers", silent, "Could not read from socket.", with_headers.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        console_.clear();
        start(c.script);
        const auto begin = Clock::now();
        EXPECT_EQ(open_failure(), c.failure);
        EXPECT_LT(Clock::now() - begin, milliseconds(5000));
        server_->wait_for_close(0, milliseconds(5000));
        EXPECT_EQ(server_->bytes(0), c.bytes_seen);
        // Nothing is logged before the reply has been accepted (a failed receive prints only its
        // diagnostic line).
        EXPECT_EQ(console_.text().find("Connection Success"), std::string::npos);
    }
}

TEST_F(OpenSourceConnectionTest, ARefusedConnectionIsCouldNotBindToPort) {
    start({});
    port = std::to_string(server_->base_port() - 1);  // the source port is the admin port
    server_->close_admin();
    EXPECT_EQ(open_failure(), "Could not bind to port.");
}

TEST_F(OpenSourceConnectionTest, TheConnectionLoopLogsTheFailureAndEnds) {
    SourceScript wrong_password;
    wrong_password.password = "other";
    start(wrong_password);
    DriverState state;
    state.file_title = "Playing";
    EXPECT_EQ(run_connection_loop(state), 1);  // a failure, without reconnection
    EXPECT_EQ(state.file_title, "");
    EXPECT_EQ(log(), "\rError: Invalid Password\n");
}

}  // namespace
}  // namespace tarnel::test
