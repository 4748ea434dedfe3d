#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_listener.h"

namespace tarnel::test {

// How the source listener answers each new connection.
enum class SourceBehaviour {
    kReply,              // after the password line: ok_reply when it matches (then go on
                         // reading), error_reply and a close otherwise
    kCloseAtOnce,        // close as soon as the connection is accepted
    kReplyInPieces,      // after the password line: each of pieces, piece_gap apart
    kReplyAfterHeaders,  // read the password line and the header block up to its empty line,
                         // then ok_reply when the password matches, a close without reply if not
    kNeverAnswer,        // read and record everything, never write
};

struct SourceScript {
    SourceBehaviour behaviour = SourceBehaviour::kReply;
    std::string password = "swapthis";
    std::string ok_reply = "OK2\r\nicy-caps:11\r\n\r\n";
    std::string error_reply = "Invalid Password\r\n";
    std::vector<std::string> pieces;
    std::chrono::milliseconds piece_gap{300};
    // A slow reader: the receive buffer of the listener (SO_RCVBUF, 0 keeps the system's; only
    // the value given at construction counts), the largest single read and a pause after each.
    int receive_buffer = 0;
    size_t read_size = 65536;
    std::chrono::microseconds read_pause{0};
    // Close the connection once this many bytes arrived (0: never); with reset_at_close, by a
    // reset (SO_LINGER 0) rather than an orderly close.
    size_t close_after = 0;
    bool reset_at_close = false;
};

// A stand-in for the streaming server on 127.0.0.1 (or ::1), run by background threads of the test
// process: an administration listener on a free base port P and a source listener on P + 1.
// Every byte of every source connection is recorded with its arrival time; each request to the
// administration port is recorded and answered with a short HTTP 200. The destructor stops and
// joins every thread.
class LoopbackServer {
  public:
    using Clock = std::chrono::steady_clock;
    using Millis = std::chrono::milliseconds;

    // Where a piece of a connection's bytes starts, and when it arrived.
    struct Chunk {
        size_t offset;
        Clock::time_point time;
    };

    explicit LoopbackServer(SourceScript script = {}, bool ipv6 = false);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int base_port() const { return base_port_; }
    int source_port() const { return base_port_ + 1; }
    std::string port_text() const { return std::to_string(base_port_); }

    // Applies to connections accepted from now on.
    void set_script(const SourceScript& script);

    // Source connections: close the open ones; pause or resume reading; close new ones at once.
    void drop_connections();
    void set_reading(bool reading);
    void set_rejecting(bool rejecting);

    // Administration port: stop or resume accepting (connections then wait in the backlog);
    // close it for good (connections are refused).
    void set_admin_accepting(bool accepting);
    void close_admin();

    // A server that goes down and comes back: stop_listening() closes both listeners and every
    // open source connection (new connections are refused); start_listening() listens again on
    // the same two ports and returns false when they could not be taken back. Recordings go on
    // with the next connection number.
    void stop_listening();
    bool start_listening();

    size_t connection_count() const;
    std::string bytes(size_t connection) const;
    // The bytes after the password line and the header block (after the first empty line).
    std::string stream_bytes(size_t connection) const;
    std::vector<Chunk> chunks(size_t connection) const;
    Clock::time_point accepted_at(size_t connection) const;
    // Whether the program closed the connection (as opposed to the server).
    bool closed_by_peer(size_t connection) const;

    bool wait_for_connections(size_t count, Millis timeout) const;
    bool wait_for_bytes(size_t connection, size_t count, Millis timeout) const;
    // Until the connection is closed, by either side.
    bool wait_for_close(size_t connection, Millis timeout) const;

    std::vector<std::string> admin_requests() const;
    bool wait_for_admin_requests(size_t count, Millis timeout) const;

  private:
    struct Record {
        std::string bytes;
        std::vector<Chunk> chunks;
        Clock::time_point accepted;
        bool closed = false;
        bool closed_by_peer = false;
    };

    void start_threads();
    void join_threads();
    void run_source_listener();
    void run_admin_listener();
    void serve_source(Descriptor connection, size_t index, const SourceScript& script);
    void serve_admin(Descriptor connection);
    void append(size_t index, const char* data, size_t length);
    void spawn(std::thread worker);
    template <typename Predicate>
    bool wait(Millis timeout, Predicate predicate) const;

    int base_port_ = 0;
    bool ipv6_ = false;
    Descriptor admin_listener_;
    Descriptor source_listener_;
    bool admin_closed_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    SourceScript script_;
    std::vector<std::unique_ptr<Record>> records_;
    std::vector<std::string> admin_requests_;
    std::vector<std::thread> workers_;

    std::atomic<bool> stopping_{false};
    std::atomic<bool> listening_stopped_{false};
    std::atomic<bool> reading_{true};
    std::atomic<bool> rejecting_{false};
    std::atomic<bool> admin_accepting_{true};
    std::atomic<bool> admin_closing_{false};
    std::atomic<unsigned> drop_generation_{0};
    std::thread source_thread_;
    std::thread admin_thread_;
};

}  // namespace tarnel::test
