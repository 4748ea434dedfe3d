#pragma once

#include <netinet/in.h>

// Descriptors and listening sockets on 127.0.0.1 for the stand-in servers of the tests and
// benchmarks.

namespace tarnel::test {

// Sole owner of a descriptor; closes it on destruction.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            descriptor_ = other.release();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return descriptor_; }
    int release() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return descriptor;
    }
    void reset();

  private:
    int descriptor_ = -1;
};

// A close-on-exec listening socket on 127.0.0.1:port (0: any free port), or [::1]:port with
// ipv6, with SO_RCVBUF set to receive_buffer when it is above 0; an empty Descriptor on failure.
Descriptor listen_on(int port, int receive_buffer = 0, bool ipv6 = false);

// The port a socket is bound to, or 0.
int local_port(const Descriptor& listener);

// The address 127.0.0.1:port.
sockaddr_in loopback_address(int port);

// A connection to 127.0.0.1:port whose receives give up after 5 s; empty when refused.
Descriptor connect_loopback(int port);

// The two listeners of a streaming server: titles on a free base port P, the source on P + 1.
struct ListenerPair {
    Descriptor admin;
    Descriptor source;
    int base_port = 0;
};
// Throws std::runtime_error when no free pair is found.
ListenerPair listen_on_pair(int source_receive_buffer = 0, bool ipv6 = false);

}  // namespace tarnel::test
