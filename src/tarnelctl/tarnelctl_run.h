#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnel::ctl {

// Exit statuses: done; the station refused the request; a usage error, or the station could not
// be reached (or did not answer as a station does).
constexpr int kExitDone = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsageOrUnreached = 2;

// The whole run of tarnelctl with the arguments after the program name: output for people (or
// JSON with --json) to out, messages saying what went wrong to err. Returns the exit status.
int run_tarnelctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarnel::ctl
