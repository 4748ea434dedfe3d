#pragma once

#include <ctime>
#include <string>

#include "driver/driver_state.h"
#include "nsv/nsv_format.h"

namespace tarnel {

// The text composed for the current cycle and the last text offered; both live for the whole
// process, across files, reloads and reconnections.
extern std::string subtitle;
extern std::string last_subtitle;
void reset_subtitles();

// One second's subtitle offer and the parameters that go with it.
struct SubtitleOffer {
    std::string text;          // empty: nothing offered this second
    int repeat = 0;            // 1: offered even when equal to the last text
    nsv::SubtitleStyle style;  // display time in frames, position and colour
};

// The defaults of a cycle: ten seconds' worth of frames, position and colour from the settings.
SubtitleOffer default_offer(double framerate);

// Applies a script file's contents: up to seven leading integers (repeat flag, display time, x,
// y, red, green, blue; those that cannot be read keep their values), white space, then the text
// to the end, each 255-byte piece cut at its first NUL byte.
void parse_subtitle_script(const std::string& bytes, SubtitleOffer& offer, std::string& text);

// Composes the cycle's subtitle by subtitle_mode and applies the repeat rule: returns the offer,
// whose text is empty when nothing is offered.
SubtitleOffer compose_subtitle(DriverState& state, double framerate, std::time_t second_start);

}  // namespace tarnel
