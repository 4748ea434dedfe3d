#include "support/console_capture.h"

#include <algorithm>

namespace tarnel::test {

namespace {

// '9' stands for any decimal digit. Plain character tests rather than std::regex, whose
// libstdc++ code draws false warnings from gcc under the sanitizers.
constexpr const char kStampPattern[] = "<99/99/9999@99:99:99> ";
constexpr size_t kStampLength = sizeof kStampPattern - 1;

}  // namespace

bool fits_pattern(const std::string& text, size_t at, const std::string& pattern) {
    if (at > text.size() || text.size() - at < pattern.size()) {
        return false;
    }
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[at + i];
        const bool fits = pattern[i] == '9' ? c >= '0' && c <= '9' : c == pattern[i];
        if (!fits) {
            return false;
        }
    }
    return true;
}

bool is_stamp_at(const std::string& text, size_t at) {
    return fits_pattern(text, at, kStampPattern);
}

bool is_stamped_lines(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos || !is_stamp_at(text, at) ||
            text.find('<', at + kStampLength) < end) {
            return false;
        }
        at = end + 1;
    }
    return true;
}

std::string without_stamps(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (text[at] == '<' && is_stamp_at(text, at)) {
            at += kStampLength;
        } else {
            kept.push_back(text[at++]);
        }
    }
    return kept;
}

std::string without_padding(const std::string& text) {
    std::string kept;
    kept.reserve(text.size());
    for (const char c : text) {
        if (c == '\n') {
            while (!kept.empty() && kept.back() == ' ') {
                kept.pop_back();
            }
        }
        kept.push_back(c);
    }
    return kept;
}

}  // namespace tarnel::test

namespace tarnel::test {

std::string logged_lines(const std::string& console) {
    std::string text = without_padding(without_stamps(console));
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

}  // namespace tarnel::test
