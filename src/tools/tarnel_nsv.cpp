// tarnel-nsv: inspects NSV files, writes them from VP8 (IVF) video and MP3 audio or from any
// video through ffmpeg, and checks a whole station before it goes on air.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/check_command.h"
#include "tools/convert_command.h"
#include "tools/nsv_commands.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(tarnel::tool_usage(), stderr);
        return tarnel::kToolUsage;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(tarnel::tool_usage(), stdout);
        return tarnel::kToolOk;
    }
    if (command == "--version") {
        std::printf("tarnel-nsv %s\n", TARNEL_VERSION);
        return tarnel::kToolOk;
    }
    if (command == "info") {
        return tarnel::run_info_command(rest, stdout, stderr);
    }
    if (command == "check") {
        return tarnel::run_check_command(rest, stdout, stderr);
    }
    if (command == "mux") {
        return tarnel::run_mux_command(rest, stdout, stderr);
    }
    if (command == "convert") {
        return tarnel::run_convert_command(rest, stdout, stderr);
    }
    std::fprintf(stderr, "tarnel-nsv: unknown command %s\n%s", command.c_str(),
                 tarnel::tool_usage());
    return tarnel::kToolUsage;
}
