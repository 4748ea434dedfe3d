#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnel {

// Text that comes from a file or a setting (a title, a file name, a server name) is written into
// sinks that are read line by line or field by field: the log file, the console and the journal,
// the service manager's status datagram, the status file and HTTP header values. A line feed
// there forges a whole log line or a second notify field (WATCHDOG=trigger), and an escape
// sequence takes over an operator's terminal. Every sink therefore passes such text through
// printable_text() first, the one place that decides what is a control character:
// - C0: every byte from 0x00 to 0x1F, tab, carriage return and line feed included (a tab is the
//   field separator of many log readers and shifts the console's status line);
// - DEL (0x7F);
// - C1: the code points U+0080 to U+009F written in UTF-8 (C2 80 to C2 9F), which a UTF-8
//   terminal takes as controls (U+009B is CSI). A lone byte from 0x80 to 0x9F that is not part
//   of a UTF-8 character is left as it is: it is legacy single-byte text (the quotes, dashes and
//   ellipsis of Windows-1252 titles), which a UTF-8 terminal shows as a replacement character
//   and never obeys.
// Each control character becomes one '?'. Text without one comes out byte for byte as it went in.
constexpr char kControlReplacement = '?';

// Whether text holds a control character in the sense above.
bool has_control_characters(std::string_view text);

// Replaces every control character of text in place; returns whether there was one.
bool replace_control_characters(std::string& text);

// A copy of text with every control character replaced.
std::string printable_text(std::string text);

// The longest start of text of at most max_bytes that does not end inside a UTF-8 character (a
// lead byte whose continuation bytes were cut off is dropped with them). Text that is not UTF-8
// is cut at max_bytes, less the continuation-looking bytes at the cut.
std::string_view cut_at_character(std::string_view text, size_t max_bytes);

}  // namespace tarnel
