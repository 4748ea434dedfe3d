#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_listener.h"

namespace tarnel::test {

// One HTTP request as a station's control socket receives it.
struct ControlRequest {
    std::string method;
    std::string target;  // "/history?n=5"
    std::string body;
};

struct ControlAnswer {
    int status = 200;
    std::string body = "{\"ok\": true}";  // JSON
};

// A stand-in for the control sockets of stations (HTTP/1.1 over Unix stream sockets, JSON
// bodies, one request per connection): any number of sockets, each answered by its own handler,
// all served by one background thread (so a thousand of them cost one thread). It records every
// request. The destructor stops the thread and removes the socket files.
class ControlSocketStub {
  public:
    using Handler = std::function<ControlAnswer(const ControlRequest&)>;

    ControlSocketStub();
    ~ControlSocketStub();
    ControlSocketStub(const ControlSocketStub&) = delete;
    ControlSocketStub& operator=(const ControlSocketStub&) = delete;

    // Listens at path (mode 0660) and answers its requests with handler (called on the serving
    // thread). Throws std::runtime_error when the socket cannot be made.
    void serve(const std::string& path, Handler handler);

    // Every request so far, with the path of the socket it came to.
    std::vector<std::pair<std::string, ControlRequest>> requests() const;

  private:
    struct Socket {
        std::string path;
        Descriptor listener;
        Handler handler;
    };
    void run();
    void answer(const Socket& socket, int connection);

    mutable std::mutex mutex_;
    std::deque<Socket> sockets_;  // a deque: adding one moves none of the others
    std::vector<std::pair<std::string, ControlRequest>> requests_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The JSON text of an error answer: {"error": message}.
ControlAnswer control_error(int status, const std::string& message);

}  // namespace tarnel::test
