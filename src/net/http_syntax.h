#pragma once

#include <string_view>

namespace tarnel {

// The pieces of HTTP/1.1's grammar that both the replies the program reads and the requests its
// control socket reads are checked against.

// A byte that may stand in a header value or a reason phrase: visible, space, tab or above 0x7F.
bool is_http_text(char c);

// An RFC 9110 token character, as header names are made of.
bool is_http_token(char c);

// Whether line (without its line end) is, or with complete == false can still become, a header
// line: a token, a colon and a value. A line that starts with white space (an obsolete folded
// line) is refused.
bool http_header_line_fits(std::string_view line, bool complete);

}  // namespace tarnel
