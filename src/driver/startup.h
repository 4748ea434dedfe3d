#pragma once

#include <ostream>

namespace tarnel {

void print_banner(std::ostream& out);
void print_help(std::ostream& out);
// "tarnel" and the version, on one line.
void print_version(std::ostream& out);

// The whole run of the program: start-up, then the connection loop. Returns the exit status.
int run(int argc, char** argv);

}  // namespace tarnel
