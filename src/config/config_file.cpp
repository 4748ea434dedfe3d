#include "config/config_file.h"

#include "config/log.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "config/strformat.h"
#include "config/text_lines.h"

namespace tarnel {

namespace {

enum class Rule { kText, kLowerText, kYesNo, kSubtitleMode, kPublic, kMount };

struct Key {
    const char* name;
    Rule rule;
    std::string* text;
    bool* flag;
};

// In the order in which a line is tested against them.
const Key kKeys[] = {
    {"Server=", Rule::kLowerText, &server, nullptr},
    {"Port=", Rule::kText, &port, nullptr},
    {"Password=", Rule::kText, &password, nullptr},
    {"Playlist=", Rule::kText, &playlist, nullptr},
    {"AutoReconnect=", Rule::kYesNo, nullptr, &autoreconnect},
    {"ScreenLog=", Rule::kYesNo, nullptr, &screenlog},
    {"RealTime=", Rule::kYesNo, nullptr, &realtime},
    {"SubtitleMode=", Rule::kSubtitleMode, nullptr, nullptr},
    {"SubtitlePosX=", Rule::kText, &sub_x, nullptr},
    {"SubtitlePosY=", Rule::kText, &sub_y, nullptr},
    {"SubtitleRed=", Rule::kText, &sub_red, nullptr},
    {"SubtitleGreen=", Rule::kText, &sub_green, nullptr},
    {"SubtitleBlue=", Rule::kText, &sub_blue, nullptr},
    {"LogFile=", Rule::kText, &logfile, nullptr},
    {"StreamName=", Rule::kText, &streamname, nullptr},
    {"Description=", Rule::kText, &description, nullptr},
    {"Genre=", Rule::kText, &genre, nullptr},
    {"Public=", Rule::kPublic, &ispublic, nullptr},
    {"Bitrate=", Rule::kText, &bitrate, nullptr},
    {"Url=", Rule::kText, &url, nullptr},
    {"IRC=", Rule::kText, &irc, nullptr},
    {"ICQ=", Rule::kText, &icq, nullptr},
    {"AIM=", Rule::kText, &aim, nullptr},
    {"Mount=", Rule::kMount, &mount, nullptr},
    {"User=", Rule::kText, &user, nullptr},
    {"TLS=", Rule::kYesNo, nullptr, &tls},
    {"TLSCAFile=", Rule::kText, &tls_ca_file, nullptr},
    {"StatusFile=", Rule::kText, &status_file, nullptr},
    {"ControlSocket=", Rule::kText, &control_socket, nullptr},
    {"AsRunLog=", Rule::kText, &as_run_log, nullptr},
};

struct ModeName {
    const char* line;
    int code;
};

const ModeName kSubtitleModes[] = {
    {"subtitlemode=none", kSubtitleNone},   {"subtitlemode=script", kSubtitleScript},
    {"subtitlemode=debug", kSubtitleDebug}, {"subtitlemode=clock", kSubtitleClock},
    {"subtitlemode=tag", kSubtitleTag},
};

}  // namespace

bool apply_config_line(const std::string& line, bool* invalid) {
    for (const Key& key : kKeys) {
        const std::string name = key.name;
        if (!starts_with(line, name)) {
            continue;
        }
        const std::string lower = to_lower_ascii(line);
        switch (key.rule) {
            case Rule::kText:
                *key.text = line.substr(name.size());
                break;
            case Rule::kLowerText:
                *key.text = lower.substr(name.size());
                break;
            case Rule::kYesNo:
                *key.flag = lower == to_lower_ascii(name) + "yes";
                break;
            case Rule::kSubtitleMode:
                for (const ModeName& mode : kSubtitleModes) {
                    if (lower == mode.line) {
                        subtitle_mode = mode.code;
                        break;
                    }
                }
                break;
            case Rule::kPublic:
                *key.text = lower == "public=yes" ? "1" : "0";
                break;
            case Rule::kMount: {
                // A mount is a path on the server; anything else would make a request that no
                // server can take, so the legacy protocol stays in force.
                const std::string value = line.substr(name.size());
                const bool valid = value.empty() || value[0] == '/';
                *key.text = valid ? value : std::string();
                if (!valid && invalid != nullptr) {
                    *invalid = true;
                }
                break;
            }
        }
        return true;
    }
    return false;
}

bool load_config(bool required) {
    std::string failure;
    const StdioFile file = open_regular_file(config_file, failure);
    if (!file) {
        nsv_log(required ? "FATAL ERROR: Configuration file (" + config_file +
                               ") could not be loaded!!; exiting"
                         : "WARNING: configuaration file could not be loaded, assuming defaults");
        nsv_log("Configuration file " + path_for_message(config_file) + ": " + failure);
        return false;
    }
    std::string line;
    int line_number = 0;
    while (read_line_piece(file.get(), kConfigLineChars, line)) {
        ++line_number;
        if (comment_or_blank(line)) {
            continue;
        }
        strip_line_end(line);
        bool invalid = false;
        if (!apply_config_line(line, &invalid)) {
            nsv_log(strformat("Warning: unrecognized parameter input on line %d", line_number));
        } else if (invalid) {
            nsv_log(
                strformat("Warning: Mount= on line %d does not start with /; the legacy "
                          "source protocol is used",
                          line_number));
        }
    }
    nsv_log("Configuration file loaded from '" + config_file + "'");
    return true;
}

}  // namespace tarnel
