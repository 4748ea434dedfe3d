#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel {

// Exit statuses of tarnel-nsv.
constexpr int kToolOk = 0;
constexpr int kToolProblem = 1;  // info found a problem, or mux rejected its input
constexpr int kToolUsage = 2;    // bad command line, or a file that cannot be read or written

// `tarnel-nsv info FILE...`: describes each file on out, a blank line between files. Each is
// walked through a window of bytes, never read whole; a file that is not regular (a FIFO, a
// device) is refused at once, as one that cannot be read.
int run_info_command(const std::vector<std::string>& files, std::FILE* out, std::FILE* err);

// `tarnel-nsv mux --video V.ivf [--audio A.mp3] [--title T] [--url U] -o OUT.nsv`; args are
// the words after "mux".
int run_mux_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The usage text printed for --help and after a usage error.
const char* tool_usage();

}  // namespace tarnel
