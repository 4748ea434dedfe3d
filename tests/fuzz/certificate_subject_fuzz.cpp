// libFuzzer target: arbitrary bytes as a certificate's DER, given to certificate_subject. The
// subject found lies within the bytes and starts as a SEQUENCE; and when OpenSSL decodes the bytes
// as a certificate too, the subject found is that certificate's subject, byte for byte. (OpenSSL
// also takes indefinite lengths, which no certificate authority writes and the framing refuses.)

#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "net/certificate_subject.h"

namespace {

struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};

void fail(const char* what) {
    std::fprintf(stderr, "certificate_subject_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view der(reinterpret_cast<const char*>(data), size);
    const std::string_view subject = tarnel::certificate_subject(der);
    if (!subject.empty() &&
        (subject.data() < der.data() || subject.data() + subject.size() > der.data() + size ||
         subject[0] != '\x30')) {
        fail("a subject outside the bytes, or not a sequence");
    }
    const unsigned char* cursor = data;
    const std::unique_ptr<X509, X509Free> certificate(
        d2i_X509(nullptr, &cursor, static_cast<long>(size)));
    if (!certificate || subject.empty()) {
        return 0;
    }
    unsigned char* name = nullptr;
    const int length = i2d_X509_NAME(X509_get_subject_name(certificate.get()), &name);
    const bool same = length > 0 && std::string_view(reinterpret_cast<const char*>(name),
                                                     static_cast<size_t>(length)) == subject;
    OPENSSL_free(name);
    if (!same) {
        fail("OpenSSL decodes a certificate whose subject differs from the one found");
    }
    return 0;
}
