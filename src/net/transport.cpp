#include "net/transport.h"

#include <algorithm>
#include <utility>

#include "config/settings.h"
#include "net/client_socket.h"
#include "net/net_timeouts.h"
#include "net/tls_module.h"

namespace tarnel {

std::unique_ptr<Transport> open_transport(const std::string& host, int port_number, bool use_tls,
                                          Transport::Clock::time_point deadline) {
    return open_transport(host, port_number, use_tls, tls_ca_file, deadline);
}

std::unique_ptr<Transport> open_transport(const std::string& host, int port_number, bool use_tls,
                                          const std::string& ca_file,
                                          Transport::Clock::time_point deadline) {
    // The handshake counts within the connection time-out, from the start of the attempt.
    const Transport::Clock::time_point handshake_end =
        std::min(deadline, Transport::Clock::now() + net_timeouts.connect);
    ClientSocket socket(host, port_number, deadline);
    if (!use_tls) {
        return std::make_unique<ClientSocket>(std::move(socket));
    }
    return tls_module().connect(std::move(socket), host, port_number, ca_file, handshake_end);
}

}  // namespace tarnel
