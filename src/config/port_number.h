#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tarnel {

// The number that text writes in decimal digits alone (no sign, space or any other character),
// of at most 18 digits; nothing otherwise.
std::optional<long long> decimal_number(std::string_view text);

// The number from 1 to limit that text writes in decimal digits alone, with no more digits than
// limit has ("007" for a limit of 100, but not "0007"); nothing otherwise.
std::optional<size_t> decimal_number_in(std::string_view text, size_t limit);

// The TCP port that text names: a decimal number from 1 to 65535 as above; nothing otherwise
// ("8000abc", "+8000", " 8000", "4294985368", "0"). A port is never wrapped or cut to another.
std::optional<int> port_number(std::string_view text);

// The base port of the Port setting, or 0 when it names none: no connection takes port 0, so a
// port that is not valid is refused like one out of range.
int base_port_number();

}  // namespace tarnel
