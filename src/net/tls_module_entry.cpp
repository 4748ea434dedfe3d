// The entry point of the TLS code, for the program that loads it as a module and for those that
// link it in.

#include <utility>

#include "config/settings.h"
#include "net/tls_context.h"
#include "net/tls_module.h"
#include "net/tls_transport.h"

namespace {

std::unique_ptr<tarnel::Transport> connect(tarnel::ClientSocket socket, const std::string& host,
                                           int port_number, const std::string& ca_file,
                                           tarnel::Transport::Clock::time_point handshake_end) {
    return std::make_unique<tarnel::TlsTransport>(
        std::move(socket), host, port_number, tarnel::tls_client_context(ca_file), handshake_end);
}

}  // namespace

extern "C" const tarnel::TlsModule* tarnel_tls_module() {
    static const tarnel::TlsModule module{tarnel::kVersion, connect};
    return &module;
}
