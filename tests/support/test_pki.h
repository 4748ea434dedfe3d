#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tarnel::test {

// Certificates made at test time with OpenSSL, in a temporary directory: a certificate authority
// of its own and server certificates that it signs. Tests trust the authority through
// TLSCAFile=; nothing is ever accepted without verification.
class TestPki {
  public:
    // Where a server certificate and its key are.
    struct Server {
        std::string certificate;  // PEM certificate
        std::string key;          // PEM private key
        std::string combined;     // certificate and key in one PEM file (Icecast's form)
    };

    // Makes the authority, named `name`.
    explicit TestPki(const std::string& name = "Tarnel Test CA");
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    // The authority's certificate (PEM), the file to trust.
    const std::string& ca_file() const { return ca_file_; }

    // A certificate for the subject alternative names (each "DNS:name" or "IP:address"), valid
    // from valid_from_s to valid_until_s seconds from now, signed by the authority.
    Server issue(const std::string& file_name, const std::vector<std::string>& names,
                 long valid_from_s = -3600, long valid_until_s = 86400) const;

    // The usual loopback server certificate: localhost, 127.0.0.1 and ::1, valid now.
    Server loopback_server() const;

  private:
    TempDir dir_;
    std::string ca_file_;
    std::string ca_key_pem_;
    std::string ca_certificate_pem_;
};

}  // namespace tarnel::test
