#include "tools/json_writer.h"

#include "config/strformat.h"

namespace tarnel {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when none starts there.
size_t utf8_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += strformat("\\u%04x", c);
        } else if (c >= 0x80) {
            const size_t length = utf8_length(text, i);
            if (length == 0) {
                out += strformat("\\u%04x", c);
                ++i;
                continue;
            }
            out.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    return out + "\"";
}

void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!empty_.empty()) {
        if (!empty_.back()) {
            out_ += ',';
        }
        empty_.back() = false;
    }
}

JsonWriter& JsonWriter::begin_object() {
    before_value();
    out_ += '{';
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_object() {
    out_ += '}';
    empty_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::begin_array() {
    before_value();
    out_ += '[';
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::end_array() {
    out_ += ']';
    empty_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    before_value();
    out_ += json_string(name) + ':';
    after_key_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    before_value();
    out_ += json_string(text);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    before_value();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
    before_value();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(uint64_t number) {
    before_value();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(double number) {
    before_value();
    out_ += strformat("%.3f", number);
    return *this;
}

JsonWriter& JsonWriter::null() {
    before_value();
    out_ += "null";
    return *this;
}

}  // namespace tarnel
