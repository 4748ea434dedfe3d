#include "tools/check_command.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "tools/check_report.h"
#include "tools/nsv_commands.h"
#include "tools/run_as.h"
#include "tools/station_check.h"

namespace tarnel {
namespace {

struct CheckArguments {
    bool json = false;
    bool strict = false;
    bool require_config = false;
    std::string config = "tarnel.conf";  // the same default as tarnel's
    std::string directory;               // to check from; empty: the working directory
    std::string user;                    // to check as; empty: as the caller
    bool station = false;                // --station: the user applies only when run as root
};

std::optional<CheckArguments> parse_check_arguments(const std::vector<std::string>& args,
                                                    std::string& error) {
    CheckArguments parsed;
    bool have_config = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takes_value = arg == "--station" || arg == "--directory" || arg == "--user";
        if (takes_value && (i + 1 >= args.size() || args[i + 1].empty())) {
            error = arg + " needs a value";
            return std::nullopt;
        }
        if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--strict") {
            parsed.strict = true;
        } else if (arg == "--require-config") {
            parsed.require_config = true;
        } else if (arg == "--directory") {
            parsed.directory = args[++i];
        } else if (arg == "--user") {
            parsed.user = args[++i];
        } else if (arg == "--station") {
            const std::string name = args[++i];
            if (name.find('/') != std::string::npos) {
                error = "--station takes the instance name, as in tarnel@NAME";
                return std::nullopt;
            }
            const StationPlace place = station_place(name);
            parsed.station = true;
            parsed.config = place.config_file;
            parsed.directory = place.directory;
            parsed.user = place.user;
            parsed.require_config = true;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (have_config) {
            error = "check takes one configuration file";
            return std::nullopt;
        } else {
            parsed.config = arg;
            have_config = true;
        }
    }
    if (parsed.station && have_config) {
        error = "--station names the configuration file itself";
        return std::nullopt;
    }
    return parsed;
}

// Takes the user and the working directory the check runs with, as systemd does for the unit
// (the user first, so a directory the station's user cannot enter shows). Returns an empty
// string, or what went wrong.
std::string take_place(const CheckArguments& parsed, std::FILE* err) {
    if (!parsed.user.empty()) {
        if (geteuid() == 0) {
            const std::string failure = become_user(parsed.user);
            if (!failure.empty()) {
                return "cannot run as " + parsed.user + ": " + failure;
            }
        } else if (parsed.station) {
            std::fprintf(err,
                         "tarnel-nsv: note: not run as root, so the station is checked as this "
                         "user, not as %s\n",
                         parsed.user.c_str());
        } else {
            const std::string failure = become_user(parsed.user);
            if (!failure.empty()) {
                return "cannot run as " + parsed.user + " (only root can): " + failure;
            }
        }
    }
    if (!parsed.directory.empty() && chdir(parsed.directory.c_str()) != 0) {
        return "cannot enter the directory " + parsed.directory + ": " + std::strerror(errno);
    }
    return "";
}

// "checking media files: n/total" on one terminal line, at most ten times a second, wiped at the
// end.
class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* err) : err_(err), shown_(isatty(fileno(err)) == 1) {}
    ~ProgressLine() {
        if (written_) {
            std::fputs("\r\033[K", err_);
            std::fflush(err_);
        }
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(size_t done, size_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (!shown_ || (written_ && done < total && now - last_ < std::chrono::milliseconds(100))) {
            return;
        }
        last_ = now;
        written_ = true;
        std::fprintf(err_, "\rchecking media files: %zu/%zu", done, total);
        std::fflush(err_);
    }

  private:
    std::FILE* err_;
    bool shown_;
    bool written_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace

int run_check_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string error;
    const std::optional<CheckArguments> parsed = parse_check_arguments(args, error);
    if (!parsed) {
        std::fprintf(err, "tarnel-nsv: %s\n%s", error.c_str(), tool_usage());
        return kToolUsage;
    }
    const std::string place_failure = take_place(*parsed, err);
    if (!place_failure.empty()) {
        // The station could not start either (systemd fails the unit the same way).
        std::fprintf(err, "tarnel-nsv: %s\n", place_failure.c_str());
        return kToolProblem;
    }
    StationReport report;
    {
        ProgressLine progress(err);
        report = check_station(
            parsed->config, [&](size_t done, size_t total) { progress.update(done, total); },
            parsed->require_config);
    }
    const std::string text = parsed->json ? format_check_json(report, parsed->strict)
                                          : format_check_text(report, parsed->strict);
    std::fputs(text.c_str(), out);
    return check_status(report, parsed->strict);
}

}  // namespace tarnel
