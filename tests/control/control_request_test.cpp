#include "control/control_request.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

using State = ControlRequest::State;

struct Case {
    const char* name;
    std::string bytes;
    State state;
    int error_status = 0;  // malformed
};

const Case kMalformed[] = {
    {"TlsClientHello", std::string("\x16\x03\x01\x02\x00\x01", 6), State::kMalformed, 400},
    {"LowerCaseMethod", "get /status HTTP/1.1\r\n\r\n", State::kMalformed, 400},
    {"MethodTooLong", "GETGETGETGETGETGET /status", State::kMalformed, 400},
    {"TwoSpacesAfterMethod", "GET  /status HTTP/1.1\r\n\r\n", State::kMalformed, 400},
    {"TargetNotAPath", "GET http://x/status HTTP/1.1\r\n\r\n", State::kMalformed, 400},
    {"NoVersion", "GET /status\r\n\r\n", State::kMalformed, 400},
    {"VersionGarbled", "GET /status HTTQ", State::kMalformed, 400},
    {"VersionTwo", "GET /status HTTP/2.0\r\n\r\n", State::kMalformed, 505},
    {"VersionTooLong", "GET /status HTTP/1.10\r\n", State::kMalformed, 400},
    {"ControlByteInTarget", "GET /sta\x01tus HTTP/1.1\r\n", State::kMalformed, 400},
    {"BareCarriageReturn", "GET /status HTTP/1.1\r\nHost: a\rb\r\n\r\n", State::kMalformed, 400},
    {"HeaderWithoutColon", "GET / HTTP/1.1\r\nHost\r\n\r\n", State::kMalformed, 400},
    {"FoldedHeader", "GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", State::kMalformed, 400},
    {"EmptyHeaderName", "GET / HTTP/1.1\r\n: b\r\n\r\n", State::kMalformed, 400},
    {"LengthNotANumber", "POST /queue HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", State::kMalformed,
     400},
    {"LengthEmpty", "POST /queue HTTP/1.1\r\nContent-Length:\r\n\r\n", State::kMalformed, 400},
    {"LengthsDiffer", "POST /queue HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc",
     State::kMalformed, 400},
    // Refused as soon as the header comes, not after 10 MB.
    {"BodyTooLong", "POST /queue HTTP/1.1\r\nContent-Length: 10485760\r\n", State::kMalformed, 413},
    {"BodyLengthOverflows", "POST /queue HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n",
     State::kMalformed, 413},
    {"Chunked", "POST /queue HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::kMalformed,
     501},
    {"OtherExpectation", "POST /queue HTTP/1.1\r\nExpect: miracles\r\n\r\n", State::kMalformed,
     417},
    {"HeadTooLong", "GET / HTTP/1.1\r\nX: " + std::string(kMaxRequestHead, 'a'), State::kMalformed,
     431},
    {"EndlessRequestLine", "GET /" + std::string(kMaxRequestHead, 'a'), State::kMalformed, 431},
};

class MalformedRequestTest : public ::testing::TestWithParam<Case> {};

TEST_P(MalformedRequestTest, IsRefusedWithItsStatusAndAReason) {
    const ControlRequest request = parse_control_request(GetParam().bytes);
    EXPECT_EQ(request.state, State::kMalformed);
    EXPECT_EQ(request.error_status, GetParam().error_status);
    EXPECT_FALSE(request.error.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedRequestTest, ::testing::ValuesIn(kMalformed),
                         [](const ::testing::TestParamInfo<Case>& param_info) {
                             return std::string(param_info.param.name);
                         });

TEST(ControlRequestTest, ReadsMethodPathQueryAndBody) {
    const std::string bytes =
        "POST /queue?x=1&n=2 HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
        "content-length:  15 \r\n\r\n{\"entry\":\"a b\"}and the next request";
    const ControlRequest request = parse_control_request(bytes);
    ASSERT_EQ(request.state, State::kComplete) << request.error;
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/queue");
    EXPECT_EQ(request.query, "x=1&n=2");
    EXPECT_EQ(request.body, "{\"entry\":\"a b\"}");
    EXPECT_EQ(request.length, bytes.find("and the"));
}

TEST(ControlRequestTest, TakesBareLineFeedsAndHttp10) {
    const ControlRequest request = parse_control_request("GET /status HTTP/1.0\n\n");
    ASSERT_EQ(request.state, State::kComplete);
    EXPECT_EQ(request.path, "/status");
    EXPECT_EQ(request.query, "");
    EXPECT_EQ(request.body, "");
}

TEST(ControlRequestTest, EveryPrefixOfARequestIsIncomplete) {
    const std::string bytes =
        "POST /title HTTP/1.1\r\nHost: localhost\r\nContent-Length: "
        "17\r\n\r\n{\"title\":\"News\"}\n";
    ASSERT_EQ(parse_control_request(bytes).state, State::kComplete);
    for (size_t length = 0; length < bytes.size(); ++length) {
        EXPECT_EQ(parse_control_request(bytes.substr(0, length)).state, State::kIncomplete)
            << length;
    }
}

TEST(ControlRequestTest, AHeadOfTheLargestSizeIsTaken) {
    const std::string start = "GET /status HTTP/1.1\r\nX: ";
    const std::string bytes =
        start + std::string(kMaxRequestHead - start.size() - 4, 'a') + "\r\n\r\n";
    ASSERT_EQ(bytes.size(), kMaxRequestHead);
    EXPECT_EQ(parse_control_request(bytes).state, State::kComplete);
}

TEST(ControlRequestTest, AskingForContinueIsSeenOnceTheHeadIsWhole) {
    const std::string head =
        "POST /queue HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 4\r\n\r\n";
    const ControlRequest waiting = parse_control_request(head);
    EXPECT_EQ(waiting.state, State::kIncomplete);
    EXPECT_TRUE(waiting.head_complete);
    EXPECT_TRUE(waiting.expects_continue);
    EXPECT_FALSE(parse_control_request(head.substr(0, head.size() - 2)).head_complete);
    const ControlRequest whole = parse_control_request(head + "body");
    EXPECT_EQ(whole.state, State::kComplete);
    EXPECT_EQ(whole.body, "body");
}

TEST(ControlRequestTest, ABodyOfTheLargestSizeIsTaken) {
    const std::string head =
        "POST /title HTTP/1.1\r\nContent-Length: " + std::to_string(kMaxRequestBody) + "\r\n\r\n";
    const std::string body(kMaxRequestBody, 'x');
    EXPECT_EQ(parse_control_request(head + body.substr(1)).state, State::kIncomplete);
    const ControlRequest request = parse_control_request(head + body);
    ASSERT_EQ(request.state, State::kComplete);
    EXPECT_EQ(request.body.size(), kMaxRequestBody);
}

}  // namespace
}  // namespace tarnel::test
