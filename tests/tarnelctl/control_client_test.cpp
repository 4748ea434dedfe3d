#include "tarnelctl/control_client.h"

#include <gtest/gtest.h>

namespace tarnel::ctl {
namespace {

TEST(ParseStationReplyTest, TakesTheBodyByItsLengthOrToTheClose) {
    const std::string head = "HTTP/1.1 409 Conflict\r\nContent-Type: application/json\r\n";
    const ParsedReply sized =
        parse_station_reply(head + "content-length: 4\r\n\r\n{}\n\nmore", false);
    EXPECT_TRUE(sized.whole);
    EXPECT_EQ(sized.status, 409);
    EXPECT_EQ(sized.body, "{}\n\n");
    EXPECT_FALSE(parse_station_reply(head + "Content-Length: 40\r\n\r\n{}", false).whole);

    const ParsedReply unsized = parse_station_reply(head + "\r\n{\"ok\":true}", false);
    EXPECT_FALSE(unsized.whole);
    EXPECT_TRUE(parse_station_reply(head + "\r\n{\"ok\":true}", true).whole);
    EXPECT_EQ(parse_station_reply(head + "\r\n{\"ok\":true}", true).body, "{\"ok\":true}");
}

TEST(ParseStationReplyTest, AnythingButAWholeHeadIsNoReply) {
    EXPECT_FALSE(parse_station_reply("", true).whole);
    EXPECT_FALSE(parse_station_reply("HTTP/1.1 200 OK\r\nContent-Le", true).whole);
    EXPECT_FALSE(parse_station_reply("OK2\r\nicy-caps:11\r\n\r\n", true).whole);
}

TEST(CallStationTest, SaysWhyTheStationWasNotReached) {
    const StationReply missing = call_station("/nonexistent/control.sock", {"GET", "/status", ""});
    EXPECT_FALSE(missing.reached);
    EXPECT_EQ(missing.failure,
              "there is no control socket at /nonexistent/control.sock (is the station running, "
              "with ControlSocket=/nonexistent/control.sock?)");
}

}  // namespace
}  // namespace tarnel::ctl
