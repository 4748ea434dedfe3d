#include "net/http_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnel::test {
namespace {

using State = HttpReply::State;

TEST(ParseHttpReplyTest, CompleteHeadsGiveTheStatusAndTheHeadLength) {
    struct Case {
        std::string bytes;
        int status;
        size_t head_length;
    };
    const std::string icecast_25_continue =
        "HTTP/1.1 100 Continue\r\nServer: Icecast 2.5.0\r\nConnection: Close\r\n"
        "Accept-Encoding: identity\r\nAllow: GET, SOURCE, PUT\r\nCache-Control: no-cache\r\n"
        "Expires: Mon, 26 Jul 1997 05:00:00 GMT\r\nPragma: no-cache\r\n"
        "Access-Control-Allow-Origin: *\r\n\r\n";
    const std::vector<Case> cases = {
        {"HTTP/1.1 100 Continue\r\n\r\n", 100, 25},
        {"HTTP/1.0 200 OK\r\n\r\nstream bytes", 200, 19},
        {icecast_25_continue, 100, icecast_25_continue.size()},
        {"HTTP/1.0 401 Authentication Required\r\nWWW-Authenticate: Basic realm=\"Icecast2\"\r\n"
         "Content-Type: text/html\r\n\r\n<html>",
         401, 107},
        {"HTTP/1.1 403\r\n\r\n", 403, 16},  // no reason phrase
        {"HTTP/1.0 200 OK\nX-Bare-Line-Feeds: yes\n\n", 200, 40},
        {"HTTP/1.1 501 Not Implemented\r\nX-Empty:\r\nX-Tab:\ta\tb\r\n\r\n", 501, 54},
    };
    for (const Case& c : cases) {
        const HttpReply reply = parse_http_reply(c.bytes);
        EXPECT_EQ(reply.state, State::kComplete) << c.bytes;
        EXPECT_EQ(reply.status, c.status) << c.bytes;
        EXPECT_EQ(reply.head_length, c.head_length) << c.bytes;
    }
}

TEST(ParseHttpReplyTest, EveryPrefixOfAValidHeadIsIncomplete) {
    const std::string head = "HTTP/1.1 100 Continue\r\nServer: Icecast 2.5.0\r\n\r\n";
    for (size_t length = 0; length < head.size(); ++length) {
        EXPECT_EQ(parse_http_reply(head.substr(0, length)).state, State::kIncomplete) << length;
    }
    EXPECT_EQ(parse_http_reply(head).state, State::kComplete);
}

TEST(ParseHttpReplyTest, BytesThatCannotBeAReplyAreMalformedAsSoonAsTheyArrive) {
    const std::vector<std::string> cases = {
        "OK2\r\n",                   // a legacy server's answer
        "ICY 200 OK\r\n\r\n",        // not HTTP
        "http/1.1 200 OK\r\n\r\n",   // the protocol name is case-sensitive
        "HTTP/1.1 20 OK\r\n\r\n",    // two digits
        "HTTP/1.1 2000 OK\r\n\r\n",  // four digits
        "HTTP/1.1 099 Odd\r\n\r\n",  // below 100
        "HTTP/11 200 OK\r\n\r\n",    // no minor version
        "HTTP/1.1 200OK\r\n\r\n",    // no space before the reason
        "\r\n",                      // an empty status line
        "HTTP/1.1 200 OK\r\nNo colon here\r\n\r\n",
        "HTTP/1.1 200 OK\r\n: no name\r\n\r\n",
        "HTTP/1.1 200 OK\r\nBad Name: x\r\n\r\n",
        "HTTP/1.1 200 OK\r\n folded: continuation\r\n\r\n",
        "HTTP/1.1 200 OK\r\nX: a\x01"
        "b\r\n\r\n",                  // a control byte in a value
        "HTTP/1.1 200 O\rK\r\n\r\n",  // a lone carriage return
        "HTTP/1.1 200 OK\r\r\n\r\n",
        std::string("HTTP/1.1 200 OK\r\nX: \0\r\n\r\n", 24),
        // Detected before the line ends:
        "GARBAGE",
        "HTTP/1.1 2x",
        "HTTP/1.1 200 OK\r\nBad Name",
    };
    for (const std::string& bytes : cases) {
        EXPECT_EQ(parse_http_reply(bytes).state, State::kMalformed) << bytes;
    }
}

// A valid head of exactly length bytes: a status line and one header whose value fills it out,
// then the empty line that ends the head when ended is set.
std::string head_of_length(size_t length, bool ended) {
    const std::string start = "HTTP/1.1 200 OK\r\nX-Filler: ";
    const std::string end = ended ? "\r\n\r\n" : "";
    return start + std::string(length - start.size() - end.size(), 'v') + end;
}

TEST(ParseHttpReplyTest, AHeadThatNeverEndsIsMalformedPastTheLimit) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() <= kMaxReplyHead) {
        EXPECT_EQ(parse_http_reply(head).state, State::kIncomplete);
        head += "X-Filler: 0123456789012345678901234567890123456789\r\n";
    }
    EXPECT_EQ(parse_http_reply(head).state, State::kMalformed);
    // Valid heads of exactly the limit and one byte over it, ended and not yet ended.
    for (const bool ended : {true, false}) {
        SCOPED_TRACE(ended ? "ended" : "not yet ended");
        const HttpReply at_limit = parse_http_reply(head_of_length(kMaxReplyHead, ended));
        EXPECT_EQ(at_limit.state, ended ? State::kComplete : State::kIncomplete);
        EXPECT_EQ(at_limit.head_length, ended ? kMaxReplyHead : 0u);
        EXPECT_EQ(parse_http_reply(head_of_length(kMaxReplyHead + 1, ended)).state,
                  State::kMalformed);
    }
    const std::string long_value = "HTTP/1.1 200 OK\r\nX: " + std::string(kMaxReplyHead, 'v');
    EXPECT_EQ(parse_http_reply(long_value).state, State::kMalformed);
}

}  // namespace
}  // namespace tarnel::test
