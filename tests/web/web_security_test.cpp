// What guards tarnel-web: credentials, the Host check against DNS rebinding, the page's token.

#include "web/web_security.h"

#include <gtest/gtest.h>

namespace tarnel::web {
namespace {

TEST(WebSecurityTest, TokensAreFreshAndLong) {
    const std::string a = random_token();
    const std::string b = random_token();
    EXPECT_EQ(a.size(), 64u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
}

TEST(WebSecurityTest, SameText) {
    EXPECT_TRUE(same_text("abc", "abc"));
    EXPECT_TRUE(same_text("", ""));
    EXPECT_FALSE(same_text("abc", "abd"));
    EXPECT_FALSE(same_text("abc", std::string("abc\0d", 5)));
    EXPECT_FALSE(same_text("abc", "ab"));
    EXPECT_FALSE(same_text("", "a"));
}

TEST(WebSecurityTest, BasicAuthentication) {
    EXPECT_TRUE(basic_auth_matches("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame"));
    EXPECT_FALSE(basic_auth_matches("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open"));
    EXPECT_FALSE(basic_auth_matches("", "Aladdin", "open sesame"));
    EXPECT_FALSE(
        basic_auth_matches("Bearer QWxhZGRpbjpvcGVuIHNlc2FtZQ==", "Aladdin", "open sesame"));
}

TEST(WebSecurityTest, LoopbackHosts) {
    for (const char* host : {"127.0.0.1:8600", "127.0.0.1", "localhost:9000", "LOCALHOST",
                             "[::1]:8600", "127.1.2.3:80"}) {
        EXPECT_TRUE(loopback_host(host)) << host;
    }
    for (const char* host : {"evil.example:8600", "", "127.0.0.1.evil.example", "128.0.0.1:8600",
                             "localhost.evil.example", "[::2]:8600", "127.0.0.256", "127.0.0"}) {
        EXPECT_FALSE(loopback_host(host)) << host;
    }
}

TEST(WebSecurityTest, ControlRequestsNeedTheTokenAndTheirOwnOrigin) {
    const std::string token = random_token();
    EXPECT_TRUE(control_request_allowed(token, token, "", "127.0.0.1:8600"));
    EXPECT_TRUE(control_request_allowed(token, token, "http://127.0.0.1:8600", "127.0.0.1:8600"));
    EXPECT_FALSE(control_request_allowed("", token, "", "127.0.0.1:8600"));
    EXPECT_FALSE(control_request_allowed(token + "0", token, "", "127.0.0.1:8600"));
    EXPECT_FALSE(control_request_allowed(token, token, "http://evil.example", "127.0.0.1:8600"));
    EXPECT_FALSE(control_request_allowed(token, token, "null", "127.0.0.1:8600"));
    EXPECT_FALSE(control_request_allowed("", "", "", "127.0.0.1:8600"));
}

}  // namespace
}  // namespace tarnel::web
