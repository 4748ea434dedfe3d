#include "config/printable_text.h"

namespace tarnel {

namespace {

constexpr unsigned char kDelete = 0x7F;
// U+0080 to U+009F in UTF-8: this lead byte, then a continuation byte from 0x80 to 0x9F.
constexpr unsigned char kC1Lead = 0xC2;
constexpr unsigned char kC1First = 0x80;
constexpr unsigned char kC1Last = 0x9F;
// A UTF-8 character is at most four bytes: a lead byte and up to three continuation bytes.
constexpr size_t kMostContinuationBytes = 3;

bool is_c0_or_delete(unsigned char byte) {
    return byte < 0x20 || byte == kDelete;
}

// Whether a C1 control in UTF-8 starts at text[at].
bool is_c1_at(std::string_view text, size_t at) {
    if (static_cast<unsigned char>(text[at]) != kC1Lead || at + 1 >= text.size()) {
        return false;
    }
    const auto next = static_cast<unsigned char>(text[at + 1]);
    return next >= kC1First && next <= kC1Last;
}

bool is_continuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

bool has_control_characters(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (is_c0_or_delete(static_cast<unsigned char>(text[i])) || is_c1_at(text, i)) {
            return true;
        }
    }
    return false;
}

bool replace_control_characters(std::string& text) {
    if (!has_control_characters(text)) {
        return false;
    }
    size_t out = 0;
    for (size_t in = 0; in < text.size(); ++in) {
        if (is_c1_at(text, in)) {
            text[out++] = kControlReplacement;
            ++in;  // both bytes of the character become one replacement
        } else if (is_c0_or_delete(static_cast<unsigned char>(text[in]))) {
            text[out++] = kControlReplacement;
        } else {
            text[out++] = text[in];
        }
    }
    text.resize(out);
    return true;
}

std::string printable_text(std::string text) {
    replace_control_characters(text);
    return text;
}

std::string_view cut_at_character(std::string_view text, size_t max_bytes) {
    if (text.size() <= max_bytes) {
        return text;
    }
    // text[cut] is the first byte left out; while it continues a character, that character
    // started before the cut and goes too.
    size_t cut = max_bytes;
    for (size_t step = 0; step < kMostContinuationBytes && cut > 0 &&
                          is_continuation(static_cast<unsigned char>(text[cut]));
         ++step) {
        --cut;
    }
    return text.substr(0, cut);
}

}  // namespace tarnel
