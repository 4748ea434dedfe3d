#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tarnel {

// `tarnel-nsv check [--json] [--strict] [--require-config] [--directory DIR] [--user USER]
// [CONFIG]` or `tarnel-nsv check [--json] [--strict] --station NAME`; args are the words after
// "check". --station NAME checks tarnel@NAME as its unit runs it: its configuration file, from
// its working directory, with the configuration required and, when run as root, as the unit's
// user (so that what that user may not read shows). Writes the report to out; progress goes to
// err, only when err is a terminal. Returns 0 when nothing needs fixing, 1 when something does
// (or a warning, with --strict; or the directory or user cannot be taken), 2 on a usage error.
int run_check_command(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace tarnel
