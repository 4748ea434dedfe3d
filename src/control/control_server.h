#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "config/unique_descriptor.h"
#include "control/control_request.h"
#include "control/control_socket_file.h"

namespace tarnel {

// The control socket's server side. It never blocks: the station calls serve() from its waits
// between seconds, when a descriptor of add_poll_descriptors() is ready, and each call does a
// bounded amount of work. One request per connection: the reply is sent and the connection
// closed. Clients are bounded in number, in request size (control_request.h) and in time.
class ControlServer {
  public:
    using Clock = std::chrono::steady_clock;
    // Turns a complete request into the reply's bytes.
    using Handler = std::function<std::string(const ControlRequest&)>;

    struct Limits {
        // Clients served at once; one more is answered 503 and closed at once.
        size_t max_clients = 16;
        // From its connection to the last byte of its reply; then it is closed (a client still
        // sending its request is told 408 first).
        std::chrono::milliseconds client_time{5000};
        // New connections taken per serve(), so a flood cannot hold the station.
        size_t accepts_per_round = 64;
    };

    // Listens at path (claim_control_socket). Throws ControlSocketError.
    explicit ControlServer(std::string path);
    ControlServer(std::string path, const Limits& limits);
    // Closes every connection and removes the socket file.
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    const std::string& path() const { return path_; }
    size_t client_count() const { return clients_.size(); }

    // Appends the descriptors to wait on, with the events that let serve() make progress.
    void add_poll_descriptors(std::vector<pollfd>& descriptors) const;
    // Without blocking: takes new connections, reads requests, answers complete ones through
    // handler and malformed ones with their error, sends replies, and closes connections that are
    // done or past their time.
    void serve(const Handler& handler);

  private:
    struct Client {
        UniqueDescriptor connection;
        Clock::time_point deadline;
        std::string received;
        std::string reply;  // what is to be sent (interim and final reply)
        size_t sent = 0;
        bool continue_sent = false;
        bool answered = false;  // the final reply is in reply
        bool finished = false;  // to be closed
    };

    void accept_clients();
    void read_request(Client& client, const Handler& handler);
    static void send_reply(Client& client);

    std::string path_;
    std::string absolute_path_;  // for the removal, wherever the working directory is by then
    Limits limits_;
    ClaimedSocket socket_;
    std::vector<Client> clients_;
    // While the process has no descriptor left for a new connection, the listener is not waited
    // on (it would wake every wait at once) until this time.
    Clock::time_point accepts_paused_until_{};
};

}  // namespace tarnel
