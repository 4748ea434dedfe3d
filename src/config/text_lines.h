#pragma once

#include <cstdio>
#include <string>

namespace tarnel {

// Reads one piece of a text line the way fgets does with a buffer of max_chars + 1 bytes: up to
// max_chars bytes, stopping after a line feed. The piece is cut at its first NUL byte, as a C
// string would be. Returns false at the end of the file, when nothing was read.
bool read_line_piece(std::FILE* file, size_t max_chars, std::string& piece);

// True for a line that carries nothing: it starts with ";" (a comment), a space, a tab, a line
// feed or a carriage return (blank and indented lines).
inline bool comment_or_blank(const std::string& line) {
    if (line.empty()) {
        return false;
    }
    const char first = line[0];
    return first == ';' || first == ' ' || first == '\t' || first == '\n' || first == '\r';
}

// Cuts a line at its first carriage return, then at its first line feed.
void strip_line_end(std::string& line);

// ASCII lower case; other bytes are left as they are.
std::string to_lower_ascii(std::string text);

inline bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace tarnel
