#include "tools/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace tarnel {
namespace {

// Sole owner of a descriptor; closes it when it goes.
class OwnedDescriptor {
  public:
    explicit OwnedDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
    ~OwnedDescriptor() { reset(); }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;

    int get() const { return descriptor_; }
    void reset() {
        if (descriptor_ >= 0) {
            close(descriptor_);
            descriptor_ = -1;
        }
    }

  private:
    int descriptor_;
};

// The spawn attributes and file actions, destroyed on every path.
class SpawnSetup {
  public:
    SpawnSetup() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnSetup() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t* actions() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
};

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return kChildNotStarted;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : kChildNotStarted;
}

}  // namespace

int run_child(const std::vector<std::string>& argv, std::string* output) {
    if (argv.empty()) {
        return kChildNotStarted;
    }
    std::vector<char*> arguments;
    for (const std::string& arg : argv) {
        arguments.push_back(const_cast<char*>(arg.c_str()));
    }
    arguments.push_back(nullptr);

    int pipe_ends[2] = {-1, -1};
    if (output != nullptr && pipe2(pipe_ends, O_CLOEXEC) != 0) {
        return kChildNotStarted;
    }
    OwnedDescriptor read_end(pipe_ends[0]);
    OwnedDescriptor write_end(pipe_ends[1]);
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(setup.actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (output != nullptr) {
        posix_spawn_file_actions_adddup2(setup.actions(), write_end.get(), STDOUT_FILENO);
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, arguments[0], setup.actions(), nullptr, arguments.data(), environ) !=
        0) {
        return kChildNotStarted;
    }
    write_end.reset();  // the child holds its own copy; the pipe ends when the child closes it
    if (output != nullptr) {
        output->clear();
        char buffer[4096];
        for (;;) {
            const ssize_t got = read(read_end.get(), buffer, sizeof buffer);
            if (got > 0) {
                output->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
    }
    return wait_for(pid);
}

bool program_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string directories = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        const size_t end = directories.find(':', start);
        std::string directory = directories.substr(start, end - start);
        if (directory.empty()) {
            directory = ".";
        }
        const std::string candidate = directory + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            return false;
        }
        start = end + 1;
    }
}

TemporaryDirectory::TemporaryDirectory(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TemporaryDirectory::~TemporaryDirectory() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

}  // namespace tarnel
