#include "net/certificate_subject.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace tarnel::test {
namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};

struct MadeCertificate {
    std::string der;
    std::string subject_der;
};

// A self-signed certificate with an issuer other than its subject, so that a walk that stops one
// field early or late gives the wrong name. version 0 is X.509 v1, which has no version field.
MadeCertificate make_certificate(long version) {
    const std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
    const std::unique_ptr<X509, X509Free> certificate(X509_new());
    X509_set_version(certificate.get(), version);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 4242);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Subject Name"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(X509_get_issuer_name(certificate.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Issuer Name"), -1, -1, 0);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600);
    X509_set_pubkey(certificate.get(), key.get());
    X509_sign(certificate.get(), key.get(), EVP_sha256());

    MadeCertificate made;
    unsigned char* bytes = nullptr;
    const int length = i2d_X509(certificate.get(), &bytes);
    made.der.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length));
    OPENSSL_free(bytes);
    bytes = nullptr;
    const int name_length = i2d_X509_NAME(X509_get_subject_name(certificate.get()), &bytes);
    made.subject_der.assign(reinterpret_cast<const char*>(bytes), static_cast<size_t>(name_length));
    OPENSSL_free(bytes);
    return made;
}

TEST(CertificateSubjectTest, FindsTheSubjectWithAndWithoutAVersionField) {
    for (const long version : {0L, 2L}) {
        SCOPED_TRACE(version);
        const MadeCertificate made = make_certificate(version);
        ASSERT_FALSE(made.subject_der.empty());
        EXPECT_EQ(certificate_subject(made.der), made.subject_der);
        // Bytes after the certificate (the trust settings of a TRUSTED CERTIFICATE) are not its.
        EXPECT_EQ(certificate_subject(made.der + "\x30\x03\x01\x01\xff"), made.subject_der);
    }
}

TEST(CertificateSubjectTest, EveryShortenedCertificateHasNoSubject) {
    const MadeCertificate made = make_certificate(2);
    for (size_t length = 0; length < made.der.size(); ++length) {
        ASSERT_TRUE(certificate_subject(made.der.substr(0, length)).empty()) << length;
    }
}

TEST(CertificateSubjectTest, RefusesMalformedFraming) {
    const std::string der = make_certificate(2).der;
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"not a sequence", "\x31" + der.substr(1)},
        {"indefinite length", std::string("\x30\x80", 2) + der.substr(4) + std::string(2, '\0')},
        {"a length in five bytes", std::string("\x30\x85\x00\x00\x00\x00\x10", 7)},
        {"a length beyond the bytes", std::string("\x30\x84\xff\xff\xff\xff", 6)},
        {"a tag of several bytes", std::string("\x1f\x81\x01\x00", 4)},
        {"no serial number", std::string("\x30\x06\x30\x04\xa0\x02\x05\x00", 8)},
        {"fields end before the subject",
         std::string("\x30\x0b\x30\x09\x02\x01\x01\x30\x00\x30\x00\x30\x00", 13)},
    };
    for (const auto& item : cases) {
        EXPECT_TRUE(certificate_subject(item.bytes).empty()) << item.what;
    }
    // The framing alone decides: the smallest certificate frame with a subject.
    const std::string least("\x30\x0d\x30\x0b\x02\x01\x01\x30\x00\x30\x00\x30\x00\x30\x00", 15);
    EXPECT_EQ(certificate_subject(least), std::string("\x30\x00", 2));
}

}  // namespace
}  // namespace tarnel::test
