#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/loopback_listener.h"

namespace tarnel::test {

// A stand-in for the service manager's notify socket: a Unix datagram socket bound to a path
// (or, when the name starts with "@", to an abstract name), whose name goes into NOTIFY_SOCKET.
class NotifyListener {
  public:
    explicit NotifyListener(const std::string& name);
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    const std::string& name() const { return name_; }
    // The next message, or an empty string when none came within timeout.
    std::string receive(std::chrono::milliseconds timeout);
    // Every message that comes within duration.
    std::vector<std::string> receive_for(std::chrono::milliseconds duration);

  private:
    std::string name_;
    Descriptor socket_;
};

}  // namespace tarnel::test
