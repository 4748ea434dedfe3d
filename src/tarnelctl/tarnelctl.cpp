// tarnelctl: asks a running Tarnel station over its control socket what it does, and tells it
// what to play, which title to send and what to reload.

#include <iostream>
#include <string>
#include <vector>

#include "tarnelctl/tarnelctl_run.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tarnel::ctl::run_tarnelctl(args, std::cout, std::cerr);
}
