#pragma once

#include <memory>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {

// A private Icecast 2 on loopback, configured for legacy source clients on a free port pair: its
// base port takes listeners and admin requests, base port + 1 takes the source. Optionally a mount
// with a source password of its own (for Icecast's protocol, a PUT to the base port) and a TLS
// listen socket. Runs in the foreground as a child process (dropping privileges to nobody when
// started as root) and is stopped by its PID on destruction.
class IcecastServer {
  public:
    struct Options {
        std::string source_password = "hackme";
        std::string mount = "/stream";
        long queue_size = 8 * 1024 * 1024;
        long burst_size = 4 * 1024 * 1024;
        // When not empty: a <mount> for own_mount whose source logs in with this password.
        std::string own_mount = "/tarnel.nsv";
        std::string own_mount_password;
        // When not empty: a TLS listen socket (tls_port()) with this certificate and key file.
        std::string tls_certificate;
    };

    IcecastServer();
    explicit IcecastServer(Options options);
    ~IcecastServer();
    IcecastServer(const IcecastServer&) = delete;
    IcecastServer& operator=(const IcecastServer&) = delete;

    static bool available();  // icecast2 is installed

    int port() const { return port_; }
    int tls_port() const { return tls_port_; }
    const Options& options() const { return options_; }
    // The listener URL of the mount.
    std::string stream_url() const;
    // GET of a path on the base port; the body, or an empty string on failure.
    std::string http_get(const std::string& path) const;
    // The server's error log (for diagnostics).
    std::string error_log() const;

    // A server that goes down and comes back on the same ports.
    void stop();
    bool start();

  private:
    Options options_;
    TempDir dir_;
    std::string config_path_;
    int port_ = 0;
    int tls_port_ = 0;
    std::unique_ptr<Process> process_;
};

// The "title" of the source in the text of Icecast's /status-json.xsl, or an empty string while
// the source has none.
std::string source_title(const std::string& status_json);

// Reads a mount as a listener would, from its first byte, into memory until stopped.
class StreamCapture {
  public:
    StreamCapture(int port, const std::string& mount);
    ~StreamCapture();
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    bool connected() const;
    // The body received so far (the HTTP response headers removed).
    std::string body() const;
    void stop();

  private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace tarnel::test
