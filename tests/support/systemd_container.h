#pragma once

#include <memory>
#include <string>

#include "support/process.h"

namespace tarnel::test {

// A real systemd booted as PID 1 in a container (systemd-nspawn), for tests of the service as an
// operator runs it. The container's root is this machine's own tree, read-only below a writable
// layer in memory (an overlay): nothing it does reaches the machine, and nothing has to be
// downloaded or cached. It has a loopback network of its own (--private-network), is not
// registered with a host systemd (--register=no, --keep-unit: none is needed), and boots only to
// sysinit.target, so the machine's own services and timers stay down. Commands run inside it
// through nsenter, as root, in its namespaces. Needs root; the destructor shuts it down (by its
// PID), unmounts its layers and removes its directories.
class SystemdContainer {
  public:
    // Why a container cannot run here, or an empty string when it can be tried.
    static std::string unavailable_reason();

    SystemdContainer();
    ~SystemdContainer();
    SystemdContainer(const SystemdContainer&) = delete;
    SystemdContainer& operator=(const SystemdContainer&) = delete;

    // Whether it booted; otherwise what went wrong (and the console's output).
    bool booted() const { return init_pid_ > 0; }
    const std::string& failure() const { return failure_; }

    struct Result {
        int status;          // the exit status; -1 when it did not end in time or ended by a signal
        std::string output;  // standard output and standard error
    };
    // Runs a shell script inside, as root, with a plain environment (PATH, HOME=/root, LANG)
    // and /root as its working directory.
    Result run(const std::string& script, int timeout_ms = 120000) const;

    // The path on this machine of a path inside the container (for writing files into it).
    std::string host_path(const std::string& inside) const;
    // Writes a file inside the container, making its directories.
    void write(const std::string& inside, const std::string& text, int mode = 0644) const;

    // What the container's console has shown (the boot messages).
    std::string console() const;

  private:
    bool mount_layers();
    void unmount_layers();

    std::string base_;   // the container's own directory on this machine
    std::string upper_;  // the writable layer (a tmpfs)
    std::string root_;   // the overlay: the container's root
    bool tmpfs_mounted_ = false;
    bool overlay_mounted_ = false;
    std::unique_ptr<Process> nspawn_;
    int init_pid_ = 0;
    std::string failure_;
};

}  // namespace tarnel::test
