#pragma once

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <map>
#include <memory>
#include <string>

namespace tarnel {

// A bundle of PEM certificates (the system's ca-certificates.crt: about 140 of them) indexed by
// the hash of each certificate's subject and kept as DER, about 1.3 kB each. Decoded whole into a
// store, a bundle costs close to 1 MB of memory; indexed, a certificate is decoded and added to
// the store only when a chain asks for its subject. The bundle is read once, when the index is
// made; the index never changes after, so several threads may look it up at once.
class BundleIndex {
  public:
    // Reads every certificate of the PEM file at path (none when it cannot be read); a CRL in it
    // is passed over, as the connections check none.
    explicit BundleIndex(const std::string& path);

    size_t size() const { return by_subject_hash_.size(); }

    // Adds to store every certificate whose subject is name, and sets ret to the store's (a
    // borrowed pointer, as OpenSSL's lookups return it); false when there is none.
    bool find(X509_STORE* store, const X509_NAME* name, X509_OBJECT* ret) const;

  private:
    std::multimap<unsigned long, std::string> by_subject_hash_;  // DER, trust settings included
};

// A name that OpenSSL's hashed directory lookup reads: eight hex digits of the subject's hash, a
// dot and a sequence number ("5ad8a5d6.0").
bool is_hashed_name(const char* name);

// The trust of the system's store, as OpenSSL's default paths name it (SSL_CERT_DIR and
// SSL_CERT_FILE override them): the hashed certificate directory, looked up on demand; and the
// bundle file, through a BundleIndex made here, when SSL_CERT_FILE names another file than the
// system's own bundle or the directory holds no hashed certificate. (On Debian the directory and
// the bundle hold the same certificates: update-ca-certificates makes both.) index keeps the
// bundle's index and must outlive store. A bundle that cannot be read leaves the store with what
// the directory gives, as OpenSSL's default paths do. False when the store cannot be set up.
bool trust_system_store(X509_STORE* store, std::unique_ptr<BundleIndex>& index);

}  // namespace tarnel
