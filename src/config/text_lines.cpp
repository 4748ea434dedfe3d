#include "config/text_lines.h"

namespace tarnel {

bool read_line_piece(std::FILE* file, size_t max_chars, std::string& piece) {
    piece.clear();
    while (piece.size() < max_chars) {
        const int c = std::getc(file);
        if (c == EOF) {
            break;
        }
        piece.push_back(static_cast<char>(c));
        if (c == '\n') {
            break;
        }
    }
    if (piece.empty()) {
        return false;
    }
    const size_t nul = piece.find('\0');
    if (nul != std::string::npos) {
        piece.resize(nul);
    }
    return true;
}

void strip_line_end(std::string& line) {
    const size_t cr = line.find('\r');
    if (cr != std::string::npos) {
        line.resize(cr);
    }
    const size_t lf = line.find('\n');
    if (lf != std::string::npos) {
        line.resize(lf);
    }
}

std::string to_lower_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace tarnel
