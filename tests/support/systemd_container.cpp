#include "support/systemd_container.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

constexpr const char* kNspawn = "/usr/bin/systemd-nspawn";
constexpr const char* kNsenter = "/usr/bin/nsenter";
constexpr const char* kSystemd = "/lib/systemd/systemd";
constexpr int kBootTimeoutMs = 90000;
constexpr int kShutdownTimeoutMs = 30000;

bool executable(const char* path) {
    return access(path, X_OK) == 0;
}

// The parent process id and the command name of a process, from /proc/PID/stat.
bool process_facts(int pid, int& parent, std::string& name) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return false;
    }
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 >= text.size()) {
        return false;
    }
    name = text.substr(open + 1, close - open - 1);
    std::istringstream rest(text.substr(close + 2));
    std::string state;
    rest >> state >> parent;
    return static_cast<bool>(rest);
}

// The child of parent_pid named name, or 0.
int child_named(int parent_pid, const std::string& name) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string id = entry.path().filename().string();
        if (id.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        int parent = 0;
        std::string command;
        const int pid = std::atoi(id.c_str());
        if (process_facts(pid, parent, command) && parent == parent_pid && command == name) {
            return pid;
        }
    }
    return 0;
}

}  // namespace

std::string SystemdContainer::unavailable_reason() {
    if (geteuid() != 0) {
        return "a container needs root";
    }
    if (!executable(kNspawn) || !executable(kNsenter)) {
        return "systemd-nspawn (the systemd-container package) or nsenter is not installed";
    }
    if (!executable(kSystemd)) {
        return "this machine's tree has no systemd to boot";
    }
    return "";
}

SystemdContainer::SystemdContainer() {
    char pattern[] = "/tmp/tarnel-container.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        failure_ = std::string("cannot make a directory: ") + std::strerror(errno);
        return;
    }
    base_ = pattern;
    upper_ = base_ + "/layer";
    root_ = base_ + "/root";
    if (!mount_layers()) {
        return;
    }
    const std::string name = "tarnel-test-" + std::to_string(getpid());
    nspawn_ = std::make_unique<Process>(
        kNspawn,
        std::vector<std::string>{"--quiet", "--directory=" + root_, "--machine=" + name,
                                 "--register=no", "--keep-unit", "--private-network",
                                 "--console=read-only", "--boot", "--",
                                 "systemd.unit=sysinit.target"},
        base_, base_ + "/console.txt");
    // The container's PID 1 is nspawn's child running systemd.
    wait_until(
        [&] {
            init_pid_ = nspawn_->running() ? child_named(nspawn_->pid(), "systemd") : -1;
            return init_pid_ != 0;
        },
        kBootTimeoutMs);
    if (init_pid_ <= 0) {
        init_pid_ = 0;
        failure_ = "systemd-nspawn did not start a systemd: " + console();
        return;
    }
    // Then until its start-up is done (every job of the boot has run); until systemd has made
    // its socket, systemctl cannot reach it and says so.
    Result system{-1, ""};
    wait_until(
        [&] {
            system = run("systemctl is-system-running --wait", kBootTimeoutMs);
            return system.output.find("running") != std::string::npos ||
                   system.output.find("degraded") != std::string::npos ||
                   !nspawn_->running();
        },
        kBootTimeoutMs);
    if (system.output.find("running") == std::string::npos &&
        system.output.find("degraded") == std::string::npos) {
        failure_ = "the container's systemd did not finish its start-up (" + system.output +
                   "): " + console();
        init_pid_ = 0;
    }
}

SystemdContainer::~SystemdContainer() {
    if (nspawn_ != nullptr) {
        // nspawn asks the container's systemd to power off, and waits for it.
        nspawn_->signal(SIGTERM);
        if (nspawn_->wait(kShutdownTimeoutMs) == -1) {
            nspawn_->kill();
        }
        nspawn_.reset();
    }
    unmount_layers();
}

bool SystemdContainer::mount_layers() {
    mkdir(upper_.c_str(), 0755);
    mkdir(root_.c_str(), 0755);
    if (mount("tarnel-container", upper_.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        failure_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
        return false;
    }
    tmpfs_mounted_ = true;
    const std::string changes = upper_ + "/changes";
    const std::string work = upper_ + "/work";
    mkdir(changes.c_str(), 0755);
    mkdir(work.c_str(), 0755);
    const std::string options = "lowerdir=/,upperdir=" + changes + ",workdir=" + work;
    if (mount("tarnel-container", root_.c_str(), "overlay", 0, options.c_str()) != 0) {
        failure_ =
            std::string("cannot mount an overlay of this machine's tree: ") + std::strerror(errno);
        return false;
    }
    overlay_mounted_ = true;
    return true;
}

void SystemdContainer::unmount_layers() {
    // Detached: a process that still holds a file there cannot keep the layers mounted. The
    // directories are only removed when empty, so nothing below a mount is ever deleted.
    if (overlay_mounted_ && umount2(root_.c_str(), MNT_DETACH) == 0) {
        overlay_mounted_ = false;
    }
    if (tmpfs_mounted_ && umount2(upper_.c_str(), MNT_DETACH) == 0) {
        tmpfs_mounted_ = false;
    }
    if (!base_.empty() && !overlay_mounted_ && !tmpfs_mounted_) {
        rmdir(root_.c_str());
        rmdir(upper_.c_str());
        std::remove((base_ + "/console.txt").c_str());
        std::remove((base_ + "/run.txt").c_str());
        rmdir(base_.c_str());
    }
}

SystemdContainer::Result SystemdContainer::run(const std::string& script, int timeout_ms) const {
    if (init_pid_ <= 0) {
        return {-1, "the container is not running"};
    }
    const TempDir dir;
    const std::string output = dir.file("output.txt");
    Process process(kNsenter,
                    {"--target", std::to_string(init_pid_), "--mount", "--uts", "--ipc", "--net",
                     "--pid", "--cgroup", "--", "/usr/bin/env", "-i",
                     "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                     "HOME=/root", "LANG=C.UTF-8", "/bin/sh", "-c", "cd /root && " + script},
                    dir.path(), output);
    const int status = process.wait(timeout_ms);
    process.kill();
    return {status, read_file(output)};
}

std::string SystemdContainer::host_path(const std::string& inside) const {
    return root_ + inside;
}

void SystemdContainer::write(const std::string& inside, const std::string& text, int mode) const {
    const std::string path = host_path(inside);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string SystemdContainer::console() const {
    return base_.empty() ? "" : read_file(base_ + "/console.txt");
}

}  // namespace tarnel::test
