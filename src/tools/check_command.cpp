#include "tools/check_command.h"

#include <unistd.h>

#include <chrono>
#include <optional>

#include "tools/check_report.h"
#include "tools/nsv_commands.h"
#include "tools/station_check.h"

namespace tarnel {
namespace {

struct CheckArguments {
    bool json = false;
    bool strict = false;
    std::string config = "tarnel.conf";  // the same default as tarnel's
};

std::optional<CheckArguments> parse_check_arguments(const std::vector<std::string>& args,
                                                    std::string& error) {
    CheckArguments parsed;
    bool have_config = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--strict") {
            parsed.strict = true;
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
    return parsed;
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
    StationReport report;
    {
        ProgressLine progress(err);
        report = check_station(parsed->config,
                               [&](size_t done, size_t total) { progress.update(done, total); });
    }
    const std::string text = parsed->json ? format_check_json(report, parsed->strict)
                                          : format_check_text(report, parsed->strict);
    std::fputs(text.c_str(), out);
    return check_status(report, parsed->strict);
}

}  // namespace tarnel
