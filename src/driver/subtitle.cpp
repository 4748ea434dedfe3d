#include "driver/subtitle.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "config/settings.h"
#include "config/stdio_file.h"

namespace tarnel {

std::string subtitle;
std::string last_subtitle;

void reset_subtitles() {
    subtitle.clear();
    last_subtitle.clear();
}

namespace {

constexpr const char* kScriptFile = "subtitle.txt";
// A subtitle chunk carries at most 65,510 bytes of text; reading much more than that would only
// cost memory, so the script file is read up to this size.
constexpr size_t kScriptReadLimit = 1 << 20;
constexpr size_t kScriptPiece = 255;

bool is_space(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Reads one decimal integer the way scanf's %d does (leading white space skipped, optional sign).
// On success stores it, advances pos and returns true; otherwise leaves pos where the scan stops.
// Like scanf, a sign with no digit after it is consumed: the scan stops after the sign.
bool scan_int(const std::string& bytes, size_t& pos, int& value) {
    size_t at = pos;
    while (at < bytes.size() && is_space(bytes[at])) {
        ++at;
    }
    pos = at;
    size_t digits = at;
    if (digits < bytes.size() && (bytes[digits] == '-' || bytes[digits] == '+')) {
        ++digits;
    }
    const size_t first_digit = digits;
    while (digits < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[digits]))) {
        ++digits;
    }
    if (digits == first_digit) {
        pos = digits;
        return false;
    }
    errno = 0;
    const long parsed = std::strtol(bytes.substr(at, digits - at).c_str(), nullptr, 10);
    value = static_cast<int>(parsed < INT_MIN ? INT_MIN : parsed > INT_MAX ? INT_MAX : parsed);
    pos = digits;
    return true;
}

int setting_value(const std::string& text) {
    return std::atoi(text.c_str());
}

int whole_frames(double framerate) {
    return static_cast<int>(framerate);
}

std::string read_script(std::FILE* file) {
    std::string bytes;
    char buffer[4096];
    size_t got = 0;
    while (bytes.size() < kScriptReadLimit &&
           (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

}  // namespace

SubtitleOffer default_offer(double framerate) {
    SubtitleOffer offer;
    offer.style.display_time = 10 * whole_frames(framerate);
    offer.style.x = setting_value(sub_x);
    offer.style.y = setting_value(sub_y);
    offer.style.red = setting_value(sub_red);
    offer.style.green = setting_value(sub_green);
    offer.style.blue = setting_value(sub_blue);
    return offer;
}

void parse_subtitle_script(const std::string& bytes, SubtitleOffer& offer, std::string& text) {
    int* const fields[] = {&offer.repeat,    &offer.style.display_time, &offer.style.x,
                           &offer.style.y,   &offer.style.red,          &offer.style.green,
                           &offer.style.blue};
    size_t pos = 0;
    bool all_read = true;
    for (int* field : fields) {
        if (!scan_int(bytes, pos, *field)) {
            all_read = false;
            break;
        }
    }
    if (all_read) {
        while (pos < bytes.size() && is_space(bytes[pos])) {
            ++pos;
        }
    }
    text.clear();
    for (; pos < bytes.size(); pos += kScriptPiece) {
        const std::string piece = bytes.substr(pos, kScriptPiece);
        text.append(piece, 0, piece.find('\0'));
    }
}

SubtitleOffer compose_subtitle(DriverState& state, double framerate, std::time_t second_start) {
    SubtitleOffer offer = default_offer(framerate);
    switch (subtitle_mode) {
        case kSubtitleScript: {
            const StdioFile file = open_regular_file(kScriptFile);
            if (file) {
                parse_subtitle_script(read_script(file.get()), offer, subtitle);
            }
            break;
        }
        case kSubtitleDebug:
            subtitle = state.line_buffer;
            offer.style.display_time = whole_frames(framerate);
            break;
        case kSubtitleClock: {
            offer.style.display_time = whole_frames(framerate);
            std::tm local{};
            localtime_r(&second_start, &local);
            char buffer[256];
            const size_t written =
                std::strftime(buffer, sizeof buffer, "%m/%d/%Y %H:%M:%S", &local);
            state.line_buffer.assign(buffer, written);
            subtitle = state.line_buffer;
            break;
        }
        case kSubtitleTag: {
            subtitle = state.file_title;
            const size_t dash = subtitle.find(" - ");
            if (dash != std::string::npos) {
                subtitle.replace(dash, 3, "\n");
            }
            offer.repeat = 0;
            offer.style.display_time = 5 * whole_frames(framerate);
            break;
        }
        default:
            subtitle.clear();
            break;
    }
    if (subtitle == last_subtitle && offer.repeat != 1) {
        subtitle.clear();
    } else {
        last_subtitle = subtitle;
    }
    offer.text = subtitle;
    return offer;
}

}  // namespace tarnel
