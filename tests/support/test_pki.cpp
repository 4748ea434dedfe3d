#include "support/test_pki.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>
#include <stdexcept>

namespace tarnel::test {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Certificate = std::unique_ptr<X509, CertificateFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

void check(bool done, const char* what) {
    if (!done) {
        throw std::runtime_error(std::string("test certificates: ") + what);
    }
}

Key new_key() {
    Key key(EVP_RSA_gen(2048));
    check(key != nullptr, "key generation");
    return key;
}

std::string pem_of(const std::function<int(BIO*)>& write) {
    const Bio bio(BIO_new(BIO_s_mem()));
    check(bio && write(bio.get()) == 1, "PEM output");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

std::string key_pem(EVP_PKEY* key) {
    return pem_of([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
    });
}

std::string certificate_pem(X509* certificate) {
    return pem_of([&](BIO* bio) { return PEM_write_bio_X509(bio, certificate); });
}

void add_extension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    const std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
    check(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

// An unsigned certificate for key with the common name, issued by issuer (null for one that
// issues itself).
Certificate make_certificate(EVP_PKEY* key, const std::string& common_name, X509* issuer,
                             long valid_from_s, long valid_until_s, long serial) {
    Certificate certificate(X509_new());
    check(certificate != nullptr, "certificate");
    X509* const made = certificate.get();
    X509_set_version(made, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(made), serial);
    X509_gmtime_adj(X509_getm_notBefore(made), valid_from_s);
    X509_gmtime_adj(X509_getm_notAfter(made), valid_until_s);
    X509_set_pubkey(made, key);
    X509_NAME* subject = X509_get_subject_name(made);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(made, issuer != nullptr ? X509_get_subject_name(issuer) : subject);
    return certificate;
}

void sign(X509* certificate, EVP_PKEY* key) {
    check(X509_sign(certificate, key, EVP_sha256()) > 0, "signature");
}

Key read_key(const std::string& pem) {
    const Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    check(key != nullptr, "key input");
    return key;
}

Certificate read_certificate(const std::string& pem) {
    const Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Certificate certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    check(certificate != nullptr, "certificate input");
    return certificate;
}

}  // namespace

TestPki::TestPki(const std::string& name) {
    const Key key = new_key();
    const Certificate ca = make_certificate(key.get(), name, nullptr, -86400, 30 * 86400, 1);
    add_extension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE");
    add_extension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    add_extension(ca.get(), ca.get(), NID_subject_key_identifier, "hash");
    sign(ca.get(), key.get());
    ca_key_pem_ = key_pem(key.get());
    ca_certificate_pem_ = certificate_pem(ca.get());
    ca_file_ = dir_.write("ca.pem", ca_certificate_pem_);
}

TestPki::Server TestPki::issue(const std::string& file_name, const std::vector<std::string>& names,
                               long valid_from_s, long valid_until_s) const {
    static long serial = 100;
    const Key ca_key = read_key(ca_key_pem_);
    const Certificate ca = read_certificate(ca_certificate_pem_);
    const Key key = new_key();
    const Certificate certificate = make_certificate(key.get(), "Tarnel test server", ca.get(),
                                                     valid_from_s, valid_until_s, ++serial);
    std::string alternative_names;
    for (const std::string& entry : names) {
        alternative_names += (alternative_names.empty() ? "" : ",") + entry;
    }
    add_extension(certificate.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE");
    add_extension(certificate.get(), ca.get(), NID_ext_key_usage, "serverAuth");
    add_extension(certificate.get(), ca.get(), NID_authority_key_identifier, "keyid");
    if (!alternative_names.empty()) {
        add_extension(certificate.get(), ca.get(), NID_subject_alt_name, alternative_names);
    }
    sign(certificate.get(), ca_key.get());

    Server server;
    const std::string certificate_text = certificate_pem(certificate.get());
    const std::string key_text = key_pem(key.get());
    server.certificate = dir_.write(file_name + ".crt", certificate_text);
    server.key = dir_.write(file_name + ".key", key_text);
    server.combined = dir_.write(file_name + ".pem", certificate_text + key_text);
    return server;
}

TestPki::Server TestPki::loopback_server() const {
    return issue("loopback", {"DNS:localhost", "IP:127.0.0.1", "IP:::1"});
}

}  // namespace tarnel::test
