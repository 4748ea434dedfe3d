#include "control/control_reply.h"

#include <gtest/gtest.h>

#include "net/http_reply.h"

namespace tarnel::test {
namespace {

TEST(ControlReplyTest, IsAWholeHttpReplyWithItsLength) {
    ControlReply reply;
    reply.body["ok"] = true;
    const std::string bytes = reply_bytes(reply);
    const HttpReply head = parse_http_reply(bytes);
    ASSERT_EQ(head.state, HttpReply::State::kComplete);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(bytes.substr(0, head.head_length),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 17\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(bytes.substr(head.head_length), "{\n  \"ok\": true\n}\n");
}

TEST(ControlReplyTest, AnErrorNamesItsMethodsAndReplacesBytesThatAreNotUtf8) {
    ControlReply reply = error_reply(405, std::string("bad \xff byte"));
    reply.allow = "GET, POST";
    const std::string bytes = reply_bytes(reply);
    EXPECT_EQ(bytes.rfind("HTTP/1.1 405 Method Not Allowed\r\n", 0), 0u);
    EXPECT_NE(bytes.find("\r\nAllow: GET, POST\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\"error\": \"bad \xef\xbf\xbd byte\""), std::string::npos);
    const size_t body = bytes.find("\r\n\r\n") + 4;
    EXPECT_NE(bytes.find("Content-Length: " + std::to_string(bytes.size() - body) + "\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tarnel::test
