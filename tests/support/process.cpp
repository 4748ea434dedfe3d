#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace tarnel::test {

void sleep_ms(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::string& working_directory, const std::string& output_file) {
    std::vector<std::string> argv_storage;
    argv_storage.push_back(program);
    argv_storage.insert(argv_storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argv_storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        const int out = open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(out);
        }
        const int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0) {
            dup2(null_in, STDIN_FILENO);
            close(null_in);
        }
        if (chdir(working_directory.c_str()) != 0) {
            _exit(126);
        }
        // The test binary may ignore or block signals; the child starts from the defaults.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
}

Process::~Process() {
    kill();
}

void Process::signal(int signal_number) const {
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, signal_number);
    }
}

bool Process::running() {
    if (reaped_ || pid_ <= 0) {
        return false;
    }
    reap(WNOHANG);
    return !reaped_;
}

void Process::reap(int options) {
    if (wait4(pid_, &status_, options, &usage_) == pid_) {
        reaped_ = true;
    }
}

int Process::wait(int timeout_ms) {
    wait_until([this] { return !running(); }, timeout_ms);
    if (!reaped_) {
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

void Process::kill() {
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        reap(0);
        reaped_ = true;
    }
}

int run_program(const std::string& program, const std::vector<std::string>& args,
                const std::string& working_directory, const std::string& output_file,
                int timeout_ms) {
    Process process(program, args, working_directory, output_file);
    return process.wait(timeout_ms);
}

}  // namespace tarnel::test
