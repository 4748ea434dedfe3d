#pragma once

namespace tarnel {

// The fixed texts of the TLS failures that are not about the server's certificate (those are in
// tls_transport.cpp), shared by the context and the connection.
constexpr const char* kTlsHandshakeFailed =
    "TLS: handshake failed; the server may not speak TLS on this port.";
constexpr const char* kTlsHandshakeTimedOut =
    "TLS: handshake timed out; the server did not complete it in time.";
constexpr const char* kTlsCaFileUnreadable =
    "TLS: the certificates of TLSCAFile could not be read.";

}  // namespace tarnel
