#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_listener.h"

namespace tarnel::test {

// A peer on 127.0.0.1 that talks first: as soon as it accepts a connection it sends bytes, one
// byte at a time and gap apart (all at once when gap is zero), reading and dropping whatever the
// client sends. Then it closes the connection, with close_after, or holds it open until the
// server goes. For clients that must give up on a peer that trickles, stalls or answers at once
// with what they cannot take. The destructor stops and joins every thread.
class TrickleServer {
  public:
    TrickleServer(std::string bytes, std::chrono::milliseconds gap, bool close_after = false);
    ~TrickleServer();
    TrickleServer(const TrickleServer&) = delete;
    TrickleServer& operator=(const TrickleServer&) = delete;

    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

  private:
    void run_listener();
    void serve(Descriptor connection) const;

    std::string bytes_;
    std::chrono::milliseconds gap_;
    bool close_after_;
    Descriptor listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> workers_;  // touched by the listener thread alone until it is joined
    std::thread listener_thread_;
};

}  // namespace tarnel::test
