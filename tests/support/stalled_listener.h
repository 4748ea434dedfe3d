#pragma once

#include "support/loopback_listener.h"

namespace tarnel::test {

// A port on 127.0.0.1 whose handshake never completes: a listener with a full accept queue
// (backlog 0 and one connection that is never accepted), so further connection attempts hang
// until the client gives up.
class StalledListener {
  public:
    StalledListener();
    int port() const { return port_; }

  private:
    Descriptor listener_;
    Descriptor filler_;
    int port_ = 0;
};

}  // namespace tarnel::test
