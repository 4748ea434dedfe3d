#include "support/console_capture.h"

#include <regex>

namespace tarnel::test {

std::string without_stamps(const std::string& text) {
    static const std::regex stamp(R"(<\d\d/\d\d/\d{4}@\d\d:\d\d:\d\d> )");
    return std::regex_replace(text, stamp, "");
}

}  // namespace tarnel::test
