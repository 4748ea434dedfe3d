#pragma once

#include <string>
#include <vector>

namespace tarnel {

// Exit status of run_child when the program could not be started (not installed, not executable),
// as a shell reports it.
constexpr int kChildNotStarted = 127;

// Runs a program (argv[0], looked up in PATH) with the arguments argv[1...], without a shell, its
// standard input from /dev/null and its standard error shared with this process. With output,
// its standard output is collected there; otherwise shared too. Waits for its end and returns its
// exit status: kChildNotStarted when it could not be started, 128 + N when signal N ended it.
int run_child(const std::vector<std::string>& argv, std::string* output = nullptr);

// Whether a program of that name is an executable file in a directory of PATH.
bool program_in_path(const std::string& name);

// A new directory of its own under TMPDIR (or /tmp), removed with everything in it when the
// object goes. path() is empty when it could not be made.
class TemporaryDirectory {
  public:
    explicit TemporaryDirectory(const std::string& prefix);
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace tarnel
