#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel {

// `tarnel-nsv check [--json] [--strict] [CONFIG]`; args are the words after "check". Writes the
// report to out; progress goes to err, only when err is a terminal. Returns 0 when nothing needs
// fixing, 1 when something does (or a warning, with --strict), 2 on a usage error.
int run_check_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace tarnel
