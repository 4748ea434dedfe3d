#include "support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace tarnel::test {

namespace {

constexpr int kPollMillis = 10;
constexpr size_t kAdminRequestLimit = 64 * 1024;
constexpr const char* kAdminAnswer =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\n\r\nOK";

bool readable(int descriptor, int timeout_ms) {
    pollfd entry{descriptor, POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0;
}

void send_all(int descriptor, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t written =
            ::send(descriptor, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (written <= 0) {
            return;
        }
        sent += static_cast<size_t>(written);
    }
}

// The password line without its line end, once the line is complete.
bool password_line(const std::string& bytes, std::string& line) {
    const size_t end = bytes.find('\n');
    if (end == std::string::npos) {
        return false;
    }
    line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

}  // namespace

LoopbackServer::LoopbackServer(SourceScript script, bool ipv6)
    : ipv6_(ipv6), script_(std::move(script)) {
    ListenerPair pair = listen_on_pair(script_.receive_buffer, ipv6_);
    admin_listener_ = std::move(pair.admin);
    source_listener_ = std::move(pair.source);
    base_port_ = pair.base_port;
    start_threads();
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    join_threads();
    std::vector<std::thread> workers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void LoopbackServer::start_threads() {
    source_thread_ = std::thread([this] { run_source_listener(); });
    admin_thread_ = std::thread([this] { run_admin_listener(); });
}

void LoopbackServer::join_threads() {
    if (source_thread_.joinable()) {
        source_thread_.join();
    }
    if (admin_thread_.joinable()) {
        admin_thread_.join();
    }
}

void LoopbackServer::stop_listening() {
    listening_stopped_ = true;
    join_threads();
    source_listener_.reset();
    admin_listener_.reset();
    drop_connections();
}

bool LoopbackServer::start_listening() {
    if (source_thread_.joinable()) {
        return true;  // still listening
    }
    int receive_buffer = 0;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        receive_buffer = script_.receive_buffer;
    }
    Descriptor admin = listen_on(base_port_, 0, ipv6_);
    Descriptor source = listen_on(base_port_ + 1, receive_buffer, ipv6_);
    if (admin.get() == -1 || source.get() == -1) {
        return false;
    }
    admin_listener_ = std::move(admin);
    source_listener_ = std::move(source);
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        admin_closed_ = false;
    }
    listening_stopped_ = false;
    start_threads();
    return true;
}

void LoopbackServer::spawn(std::thread worker) {
    const std::lock_guard<std::mutex> lock(mutex_);
    workers_.push_back(std::move(worker));
}

void LoopbackServer::run_source_listener() {
    while (!stopping_ && !listening_stopped_) {
        if (!readable(source_listener_.get(), kPollMillis)) {
            continue;
        }
        Descriptor connection(::accept4(source_listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() == -1) {
            continue;
        }
        if (rejecting_) {
            continue;  // closed at once, not counted
        }
        SourceScript script;
        size_t index = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            script = script_;
            index = records_.size();
            records_.push_back(std::make_unique<Record>());
            records_.back()->accepted = Clock::now();
        }
        changed_.notify_all();
        spawn(std::thread([this, index, script](
                              Descriptor peer) { serve_source(std::move(peer), index, script); },
                          std::move(connection)));
    }
}

void LoopbackServer::append(size_t index, const char* data, size_t length) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        Record& record = *records_[index];
        record.chunks.push_back({record.bytes.size(), Clock::now()});
        record.bytes.append(data, length);
    }
    changed_.notify_all();
}

void LoopbackServer::serve_source(Descriptor connection, size_t index, const SourceScript& script) {
    const unsigned generation = drop_generation_;
    bool peer_closed = false;
    bool answered = script.behaviour == SourceBehaviour::kNeverAnswer;
    size_t pieces_sent = 0;
    Clock::time_point next_piece{};
    size_t received = 0;
    std::string head;  // the bytes up to the answer, to find the password and the header block
    std::vector<char> buffer(std::max<size_t>(script.read_size, 1));

    bool open = script.behaviour != SourceBehaviour::kCloseAtOnce;
    while (open && !stopping_ && drop_generation_ == generation) {
        if (!reading_) {
            std::this_thread::sleep_for(Millis(kPollMillis));
        } else if (readable(connection.get(), kPollMillis)) {
            size_t wanted = buffer.size();
            if (script.close_after > 0) {
                wanted = std::min(wanted, script.close_after - received);
            }
            const ssize_t count = ::recv(connection.get(), buffer.data(), wanted, 0);
            if (count <= 0) {
                peer_closed = true;
                break;
            }
            append(index, buffer.data(), static_cast<size_t>(count));
            if (!answered) {
                head.append(buffer.data(), static_cast<size_t>(count));
            }
            received += static_cast<size_t>(count);
            if (script.close_after > 0 && received >= script.close_after) {
                if (script.reset_at_close) {
                    const linger abort_at_close{1, 0};
                    setsockopt(connection.get(), SOL_SOCKET, SO_LINGER, &abort_at_close,
                               sizeof abort_at_close);
                }
                break;
            }
            if (script.read_pause.count() > 0) {
                std::this_thread::sleep_for(script.read_pause);
            }
        }
        if (answered) {
            continue;
        }
        std::string line;
        if (!password_line(head, line)) {
            continue;
        }
        const bool right = line == script.password;
        switch (script.behaviour) {
            case SourceBehaviour::kReply:
                answered = true;
                send_all(connection.get(), right ? script.ok_reply : script.error_reply);
                open = right;
                break;
            case SourceBehaviour::kReplyInPieces:
                if (Clock::now() >= next_piece && pieces_sent < script.pieces.size()) {
                    send_all(connection.get(), script.pieces[pieces_sent++]);
                    next_piece = Clock::now() + script.piece_gap;
                }
                answered = pieces_sent == script.pieces.size();
                break;
            case SourceBehaviour::kReplyAfterHeaders:
                if (head.find("\r\n\r\n", head.find('\n')) != std::string::npos) {
                    answered = true;
                    if (right) {
                        send_all(connection.get(), script.ok_reply);
                    }
                    open = right;
                }
                break;
            case SourceBehaviour::kCloseAtOnce:
            case SourceBehaviour::kNeverAnswer:
                break;
        }
    }
    connection.reset();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        records_[index]->closed = true;
        records_[index]->closed_by_peer = peer_closed;
    }
    changed_.notify_all();
}

void LoopbackServer::run_admin_listener() {
    while (!stopping_ && !admin_closing_ && !listening_stopped_) {
        if (!admin_accepting_ || !readable(admin_listener_.get(), kPollMillis)) {
            if (!admin_accepting_) {
                std::this_thread::sleep_for(Millis(kPollMillis));
            }
            continue;
        }
        Descriptor connection(::accept4(admin_listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() != -1) {
            spawn(std::thread([this](Descriptor peer) { serve_admin(std::move(peer)); },
                              std::move(connection)));
        }
    }
    admin_listener_.reset();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        admin_closed_ = true;
    }
    changed_.notify_all();
}

void LoopbackServer::serve_admin(Descriptor connection) {
    std::string request;
    char buffer[4096];
    while (!stopping_ && request.find("\r\n\r\n") == std::string::npos &&
           request.size() < kAdminRequestLimit) {
        if (!readable(connection.get(), kPollMillis)) {
            continue;
        }
        const ssize_t count = ::recv(connection.get(), buffer, sizeof buffer, 0);
        if (count <= 0) {
            break;
        }
        request.append(buffer, static_cast<size_t>(count));
    }
    send_all(connection.get(), kAdminAnswer);
    connection.reset();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        admin_requests_.push_back(request);
    }
    changed_.notify_all();
}

void LoopbackServer::set_script(const SourceScript& script) {
    const std::lock_guard<std::mutex> lock(mutex_);
    script_ = script;
}

void LoopbackServer::drop_connections() {
    ++drop_generation_;
}
void LoopbackServer::set_reading(bool reading) {
    reading_ = reading;
}
void LoopbackServer::set_rejecting(bool rejecting) {
    rejecting_ = rejecting;
}
void LoopbackServer::set_admin_accepting(bool accepting) {
    admin_accepting_ = accepting;
}

void LoopbackServer::close_admin() {
    admin_closing_ = true;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return admin_closed_; });
}

size_t LoopbackServer::connection_count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

std::string LoopbackServer::bytes(size_t connection) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connection < records_.size() ? records_[connection]->bytes : std::string();
}

std::string LoopbackServer::stream_bytes(size_t connection) const {
    const std::string all = bytes(connection);
    const size_t line_end = all.find('\n');
    const size_t block_end =
        line_end == std::string::npos ? std::string::npos : all.find("\r\n\r\n", line_end);
    return block_end == std::string::npos ? std::string() : all.substr(block_end + 4);
}

std::vector<LoopbackServer::Chunk> LoopbackServer::chunks(size_t connection) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connection < records_.size() ? records_[connection]->chunks : std::vector<Chunk>();
}

LoopbackServer::Clock::time_point LoopbackServer::accepted_at(size_t connection) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connection < records_.size() ? records_[connection]->accepted : Clock::time_point{};
}

bool LoopbackServer::closed_by_peer(size_t connection) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connection < records_.size() && records_[connection]->closed_by_peer;
}

template <typename Predicate>
bool LoopbackServer::wait(Millis timeout, Predicate predicate) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, predicate);
}

bool LoopbackServer::wait_for_connections(size_t count, Millis timeout) const {
    return wait(timeout, [&] { return records_.size() >= count; });
}

bool LoopbackServer::wait_for_bytes(size_t connection, size_t count, Millis timeout) const {
    return wait(timeout, [&] {
        return connection < records_.size() && records_[connection]->bytes.size() >= count;
    });
}

bool LoopbackServer::wait_for_close(size_t connection, Millis timeout) const {
    return wait(timeout,
                [&] { return connection < records_.size() && records_[connection]->closed; });
}

std::vector<std::string> LoopbackServer::admin_requests() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return admin_requests_;
}

bool LoopbackServer::wait_for_admin_requests(size_t count, Millis timeout) const {
    return wait(timeout, [&] { return admin_requests_.size() >= count; });
}

}  // namespace tarnel::test
