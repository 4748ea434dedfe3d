#pragma once

#include <string>

namespace tarnel {

// printf-style formatting into a string that grows to fit, so no message can overflow a buffer.
std::string strformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tarnel
