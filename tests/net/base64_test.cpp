#include "net/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnel::test {
namespace {

TEST(Base64Test, EncodesTheStandardVectorsAndEveryByte) {
    // RFC 4648's test vectors: every length of the last group.
    const struct {
        std::string bytes;
        std::string encoded;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"source:hackme", "c291cmNlOmhhY2ttZQ=="},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {std::string("\x00\xff\xfe\x80", 4), "AP/+gA=="},
        {std::string("\xfb\xef\xbe", 3), "++++"},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(base64_encode(item.bytes), item.encoded) << item.bytes;
    }
}

}  // namespace
}  // namespace tarnel::test
