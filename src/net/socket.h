#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace tarnel {

// A descriptor that, once readable, makes every wait of the calling thread's sockets fail at once,
// as when its time-out has run out: for work on a thread of its own that the main flow may give
// up (the title update). -1, the default, is none. A name lookup is not a wait it can end.
void set_thread_cancel_descriptor(int descriptor);

// One TCP socket descriptor (IPv4 or IPv6) and its socket address. Every outcome is a true/false or
// count result; nothing throws. The object is the only owner of its descriptor: it can be moved,
// never copied, and its destructor closes the descriptor.
//
// Every wait for the peer is bounded (net_timeouts), and optionally by an overall deadline for
// the whole life of the socket (set_deadline), so a stalled peer turns into a failed result.
class Socket {
  public:
    using Clock = std::chrono::steady_clock;

    // The largest single receive of recv().
    static constexpr size_t kMaxReceive = 500;
    static constexpr int kListenBacklog = 5;

    Socket();
    virtual ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new IPv4 TCP socket with SO_REUSEADDR set; true if both calls succeeded.
    bool create();
    // Connects to host and port: an IPv4 or IPv6 address (the latter also in brackets), or a
    // name resolved for either family. Every address of the name is tried in the resolver's
    // order, on a new socket of its family where needed, until one connects; all of them within
    // net_timeouts.connect. Prints "\nLookup failed\n" when the name does not resolve.
    bool connect(std::string host, int port_number);

    // Send every byte of data, continuing after partial writes and interrupted calls; false on an
    // error or when no byte could be written for net_timeouts.send_progress.
    bool send(std::string data) const;
    // more: more bytes follow at once, so the kernel may hold these back to send them together
    // (MSG_MORE) until a send without it.
    bool bsend(const char* data, size_t length, bool more = false) const;

    // One receive of at most kMaxReceive bytes into text, cut at the first NUL byte. Returns the
    // number of bytes received, 0 when the peer closed, the receive failed or nothing arrived
    // within net_timeouts.receive (text is then empty).
    int recv(std::string& text) const;
    // Zeroes buffer[0, length), then one receive of at most length bytes; the count or 0.
    int brecv(char* buffer, size_t length) const;
    // Reads one byte at a time up to and including "\n"; 1 for a line of at most limit bytes, 0
    // when the line is longer (the byte over the limit is consumed and lost), the peer closed or
    // the receive failed.
    int recvln(std::string& line, int limit) const;
    // Whether at least one byte is waiting (waits up to net_timeouts.receive for one).
    bool inbuffer() const;

    // Server side. bind() uses every local address unless a dotted address is given.
    bool bind(int port_number, const std::string& local_address = "0.0.0.0");
    bool listen() const;
    // Accepts one connection into peer; the peer's address goes into this object's address.
    bool accept(Socket& peer);
    void set_non_blocking(bool on);

    bool is_open() const { return descriptor_ != -1; }
    // Waits up to timeout (and the deadline) for bytes or a close to be waiting.
    bool readable_within(std::chrono::milliseconds timeout) const;
    // An overall end for every later wait on this socket.
    void set_deadline(Clock::time_point deadline) { deadline_ = deadline; }
    Clock::time_point deadline() const { return deadline_; }
    // Whether the last receive failed because nothing came in time (its limit or the deadline),
    // rather than by a close or an error.
    bool receive_timed_out() const { return receive_timed_out_; }

    // The descriptor, for a layer (TLS) that runs its own protocol over the connection; the
    // object stays its owner.
    int descriptor() const { return descriptor_; }

  private:
    // A new TCP socket of the family (AF_INET or AF_INET6), replacing the descriptor.
    bool create(int family);
    // One connection attempt to target, given up after timeout.
    bool connect_to(const sockaddr_storage& target, std::chrono::milliseconds timeout);
    // Polls for events until they are ready, timeout ran out or the deadline passed.
    bool wait_for(short events, std::chrono::milliseconds timeout) const;
    // One receive after a bounded wait for data; -1 with errno set on failure or time-out.
    ssize_t receive_some(char* buffer, size_t length, int flags) const;
    void close_descriptor();

    int descriptor_ = -1;
    sockaddr_storage address_{};
    Clock::time_point deadline_ = Clock::time_point::max();
    mutable bool receive_timed_out_ = false;
};

}  // namespace tarnel
