#include "support/icecast_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "support/loopback_listener.h"

namespace tarnel::test {

namespace {

constexpr const char* kIcecastBinary = "/usr/bin/icecast2";

bool port_free(int port) {
    const Descriptor probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = loopback_address(port);
    return bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A base port whose successor is free too.
int free_port_pair() {
    std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)));
    std::uniform_int_distribution<int> ports(20000, 40000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = ports(random) & ~1;
        if (port_free(port) && port_free(port + 1)) {
            return port;
        }
    }
    return 0;
}

std::string split_body(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace

IcecastServer::IcecastServer() : IcecastServer(Options()) {}

IcecastServer::IcecastServer(Options options) : options_(std::move(options)) {
    port_ = free_port_pair();
    const bool with_tls = !options_.tls_certificate.empty();
    if (with_tls) {
        // A copy that the server can read once it runs as nobody.
        const std::string readable = dir_.write("server.pem", read_file(options_.tls_certificate));
        chmod(readable.c_str(), 0644);
        options_.tls_certificate = readable;
        do {
            tls_port_ = free_port_pair();
        } while (tls_port_ != 0 && tls_port_ >= port_ - 1 && tls_port_ <= port_ + 1);
    }
    // The server drops root privileges to nobody, who must reach the folder and write its logs.
    chmod(dir_.path().c_str(), 0755);
    const std::string logs = dir_.file("log");
    mkdir(logs.c_str(), 0777);
    chmod(logs.c_str(), 0777);
    const bool root = geteuid() == 0;
    const std::string config =
        "<icecast>\n"
        "  <limits><clients>20</clients><sources>2</sources>"
        "<queue-size>" +
        std::to_string(options_.queue_size) +
        "</queue-size>"
        "<burst-size>" +
        std::to_string(options_.burst_size) +
        "</burst-size>"
        "<source-timeout>10</source-timeout><header-timeout>15</header-timeout></limits>\n"
        "  <authentication><source-password>" +
        options_.source_password +
        "</source-password><admin-user>admin</admin-user>"
        "<admin-password>admin-secret</admin-password></authentication>\n"
        "  <hostname>127.0.0.1</hostname>\n"
        "  <listen-socket><port>" +
        std::to_string(port_) + "</port><bind-address>127.0.0.1</bind-address><shoutcast-mount>" +
        options_.mount + "</shoutcast-mount></listen-socket>\n" +
        (with_tls ? "  <listen-socket><port>" + std::to_string(tls_port_) +
                        "</port><bind-address>127.0.0.1</bind-address><ssl>1</ssl>"
                        "</listen-socket>\n"
                  : std::string()) +
        (options_.own_mount_password.empty()
             ? std::string()
             : "  <mount><mount-name>" + options_.own_mount + "</mount-name><password>" +
                   options_.own_mount_password + "</password></mount>\n") +
        "  <fileserve>1</fileserve>\n"
        "  <paths><logdir>" +
        logs +
        "</logdir><webroot>/usr/share/icecast2/web</webroot>"
        "<adminroot>/usr/share/icecast2/admin</adminroot>" +
        (with_tls ? "<ssl-certificate>" + options_.tls_certificate + "</ssl-certificate>"
                  : std::string()) +
        "</paths>\n"
        "  <logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
        "<loglevel>3</loglevel></logging>\n"
        "  <security><chroot>0</chroot>" +
        std::string(root ? "<changeowner><user>nobody</user><group>nogroup</group></changeowner>"
                         : "") +
        "</security>\n"
        "</icecast>\n";
    config_path_ = dir_.write("icecast.xml", config);
    chmod(config_path_.c_str(), 0644);
    start();
}

IcecastServer::~IcecastServer() {
    stop();
}

bool IcecastServer::start() {
    process_ =
        std::make_unique<Process>(kIcecastBinary, std::vector<std::string>{"-c", config_path_},
                                  dir_.path(), dir_.file("icecast.out"));
    return wait_until(
        [this] {
            return connect_loopback(port_).get() >= 0 &&
                   (tls_port_ == 0 || connect_loopback(tls_port_).get() >= 0);
        },
        10000);
}

void IcecastServer::stop() {
    if (process_) {
        process_->signal(SIGTERM);
        if (process_->wait(5000) == -1) {
            process_->kill();
        }
        process_.reset();
    }
}

bool IcecastServer::available() {
    return access(kIcecastBinary, X_OK) == 0;
}

std::string IcecastServer::stream_url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + options_.mount;
}

std::string IcecastServer::http_get(const std::string& path) const {
    const Descriptor connection = connect_loopback(port_);
    if (connection.get() < 0) {
        return "";
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (send(connection.get(), request.data(), request.size(), MSG_NOSIGNAL) < 0) {
        return "";
    }
    std::string response;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = recv(connection.get(), buffer, sizeof buffer, 0)) > 0) {
        response.append(buffer, static_cast<size_t>(got));
    }
    return split_body(response);
}

std::string IcecastServer::error_log() const {
    return read_file(dir_.file("log/error.log"));
}

struct StreamCapture::State {
    std::mutex mutex;
    std::string response;
    std::atomic<bool> stop{false};
    std::atomic<bool> connected{false};
    std::thread reader;
};

StreamCapture::StreamCapture(int port, const std::string& mount)
    : state_(std::make_shared<State>()) {
    Descriptor connection = connect_loopback(port);
    if (connection.get() < 0) {
        return;
    }
    // Short receive waits, so the reader notices a stop request promptly.
    timeval timeout{0, 200000};
    setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const std::string request = "GET " + mount + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(connection.get(), request.data(), request.size(), MSG_NOSIGNAL);
    state_->connected = true;
    state_->reader = std::thread([state = state_, listener = std::move(connection)] {
        char buffer[65536];
        while (!state->stop) {
            const ssize_t got = recv(listener.get(), buffer, sizeof buffer, 0);
            if (got == 0) {
                break;
            }
            if (got > 0) {
                const std::lock_guard<std::mutex> lock(state->mutex);
                state->response.append(buffer, static_cast<size_t>(got));
            }
        }
    });
}

StreamCapture::~StreamCapture() {
    stop();
}

bool StreamCapture::connected() const {
    return state_->connected;
}

std::string StreamCapture::body() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return split_body(state_->response);
}

void StreamCapture::stop() {
    state_->stop = true;
    if (state_->reader.joinable()) {
        state_->reader.join();
    }
}

std::string source_title(const std::string& status_json) {
    const std::string key = "\"title\":\"";
    const size_t start = status_json.find(key);
    if (start == std::string::npos) {
        return {};
    }
    const size_t from = start + key.size();
    const size_t end = status_json.find('"', from);
    return end == std::string::npos ? std::string() : status_json.substr(from, end - from);
}

}  // namespace tarnel::test
