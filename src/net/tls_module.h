#pragma once

#include <memory>
#include <string>

#include "net/client_socket.h"
#include "net/transport.h"

namespace tarnel {

// What the TLS half of the program offers the rest. OpenSSL's libraries cost every process that
// loads them about 460 kB of private memory (their data, relocated at load), so the program
// itself does not link them: its TLS code is a module of its own (tarnel-tls.so) that is loaded
// at the first TLS connection. The tests and tarnel-nsv link the same code in, and then it is
// used as it is.
struct TlsModule {
    // The version of the program the module was built with; a module of another version is not
    // used.
    const char* version;
    // A TLS connection over socket to host and port_number, verified against the trust that
    // ca_file names (empty: the system's store); as TlsTransport's constructor, which it is.
    std::unique_ptr<Transport> (*connect)(ClientSocket socket, const std::string& host,
                                          int port_number, const std::string& ca_file,
                                          Transport::Clock::time_point handshake_end);
};

// The TLS code: linked in, or else the module, loaded at the first call (from beside the program,
// then from where an installation puts it). Safe to call from several threads. Throws
// SocketException "TLS: the program's TLS module could not be loaded (REASON)." when there is none.
const TlsModule& tls_module();

}  // namespace tarnel

// The module's one entry point, which the module (or the TLS code linked in) defines.
extern "C" const tarnel::TlsModule* tarnel_tls_module();
