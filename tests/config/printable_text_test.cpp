#include "config/printable_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnel::test {
namespace {

struct Case {
    const char* name;
    std::string text;
    std::string printable;
};

TEST(PrintableTextTest, ReplacesEachControlCharacterByOneQuestionMark) {
    const std::vector<Case> cases = {
        {"line breaks forge a line", "Song\r\nError: forged", "Song??Error: forged"},
        {"a notify field", "Song\nWATCHDOG=trigger", "Song?WATCHDOG=trigger"},
        {"an escape sequence", "\x1b[2J\x1b]0;owned\x07", "?[2J?]0;owned?"},
        {"tab, NUL and DEL", std::string("a\tb\0c\x7f", 6), "a?b?c?"},
        {"C1 in UTF-8: CSI and NEL",
         "x\xc2\x9b"
         "31my\xc2\x85z",
         "x?31my?z"},
        {"C1 at the end", "end\xc2\x80", "end?"},
        {"every C0 byte", std::string("\x01\x02\x1e\x1f", 4), "????"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(has_control_characters(c.text));
        EXPECT_EQ(printable_text(c.text), c.printable);
        std::string in_place = c.text;
        EXPECT_TRUE(replace_control_characters(in_place));
        EXPECT_EQ(in_place, c.printable);
        EXPECT_FALSE(has_control_characters(c.printable));
    }
}

TEST(PrintableTextTest, TextWithoutControlCharactersComesOutByteForByte) {
    const std::vector<std::string> texts = {
        "",
        "Artist - Title (Live) [2024] & more: 100% ~ # ? = /",
        "caf\xc3\xa9 \xe2\x80\x99quoted\xe2\x80\x99 \xf0\x9f\x8e\xb5",  // UTF-8, emoji included
        "\xc2\xa0no-break space, \xc2\xbf question",                    // C2 before A0 and above
        "Caf\xe9 \x92quoted\x94 \x85 \x9b",  // Latin-1 and Windows-1252 bytes, not UTF-8
        "lone lead byte at the end \xc2",
    };
    for (const std::string& text : texts) {
        EXPECT_FALSE(has_control_characters(text)) << text;
        std::string copy = text;
        EXPECT_FALSE(replace_control_characters(copy)) << text;
        EXPECT_EQ(copy, text);
        EXPECT_EQ(printable_text(text), text);
    }
}

TEST(CutAtCharacterTest, NeverEndsInsideAUtf8Character) {
    struct Cut {
        const char* name;
        std::string text;
        size_t max_bytes;
        std::string kept;
    };
    const std::vector<Cut> cases = {
        {"short enough", "abc", 3, "abc"},
        {"ASCII", "abcdef", 4, "abcd"},
        {"before a two-byte character", "ab\xc3\xa9", 2, "ab"},
        {"inside a two-byte character", "ab\xc3\xa9", 3, "ab"},
        {"inside a four-byte character", "a\xf0\x9f\x8e\xb5z", 3, "a"},
        {"after a four-byte character", "a\xf0\x9f\x8e\xb5z", 5, "a\xf0\x9f\x8e\xb5"},
        {"Latin-1 is cut at the limit", "caf\xe9\xe9\xe9", 5, "caf\xe9\xe9"},
        {"nothing", "abc", 0, ""},
    };
    for (const Cut& c : cases) {
        EXPECT_EQ(cut_at_character(c.text, c.max_bytes), c.kept) << c.name;
    }
}

}  // namespace
}  // namespace tarnel::test
