#pragma once

#include <string>
#include <vector>

namespace tarnel::test {

// A subtitle chunk found in a stream.
struct FoundSubtitle {
    size_t offset = 0;  // of its "SUBT" type
    std::string text;
    int display_time = 0;
    int x = 0;
    int y = 0;
    int red = 0;
    int green = 0;
    int blue = 0;
};

// Every well-formed "SUBT" chunk in the bytes, in order.
std::vector<FoundSubtitle> find_subtitles(const std::string& bytes);

// How many end marker chunks (00 00 "ASYN") the bytes hold.
size_t count_end_markers(const std::string& bytes);

}  // namespace tarnel::test
