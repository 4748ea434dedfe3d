#include "tools/json_writer.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

using namespace std::string_literals;

TEST(JsonWriterTest, StringsAreEscapedAndForeignBytesKept) {
    struct Case {
        std::string text;
        std::string json;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a \"b\" \\ c", "\"a \\\"b\\\" \\\\ c\""},
        {"tab\there\nline\x01\x7f", "\"tab\\there\\nline\\u0001\\u007f\""},
        {"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5",
         "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5\""},
        {"Latin-1 caf\xE9", "\"Latin-1 caf\\u00e9\""},         // not UTF-8: the byte's character
        {"cut \xC3", "\"cut \\u00c3\""},                       // a sequence cut by the end
        {"overlong \xC0\xAF", "\"overlong \\u00c0\\u00af\""},  // never valid
        {"surrogate \xED\xA0\x80", "\"surrogate \\u00ed\\u00a0\\u0080\""},
        {"nul \0 inside"s, "\"nul \\u0000 inside\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_string(c.text), c.json) << c.text;
    }
}

TEST(JsonWriterTest, CommasAndNesting) {
    JsonWriter json;
    json.begin_object().key("a").value(1).key("list").begin_array();
    json.value("x").begin_object().end_object().value(true).null().value(2.5).end_array();
    json.key("n").value(uint64_t{18446744073709551615u}).key("empty").begin_array().end_array();
    json.end_object();
    EXPECT_EQ(json.text(),
              "{\"a\":1,\"list\":[\"x\",{},true,null,2.500],\"n\":18446744073709551615,"
              "\"empty\":[]}");
}

}  // namespace
}  // namespace tarnel::test
