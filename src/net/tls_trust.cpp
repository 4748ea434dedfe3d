#include "net/tls_trust.h"

#include <dirent.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "net/certificate_subject.h"

namespace tarnel {

namespace {

struct DirectoryClose {
    void operator()(DIR* directory) const { closedir(directory); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct X509NameFree {
    void operator()(X509_NAME* name) const { X509_NAME_free(name); }
};

// One block of a PEM file: its name ("CERTIFICATE") and its decoded bytes.
struct PemBlock {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;

    PemBlock() = default;
    PemBlock(const PemBlock&) = delete;
    PemBlock& operator=(const PemBlock&) = delete;
    ~PemBlock() { release(); }

    // Reads the next block; false at the end of the file or at a block that cannot be decoded.
    bool read(BIO* file) {
        release();
        return PEM_read_bio(file, &name, &header, &data, &length) == 1;
    }

    void release() {
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
        name = header = nullptr;
        data = nullptr;
        length = 0;
    }
};

// The block names that OpenSSL reads a certificate from; "TRUSTED CERTIFICATE" has trust
// settings after the certificate, which d2i_X509_AUX reads back.
bool is_certificate_block(const char* name) {
    return std::strcmp(name, PEM_STRING_X509) == 0 || std::strcmp(name, PEM_STRING_X509_OLD) == 0 ||
           std::strcmp(name, PEM_STRING_X509_TRUSTED) == 0;
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Whether one of directories (separated by ':', as SSL_CERT_DIR writes them) holds a hashed
// certificate name.
bool holds_hashed_certificates(const std::string& directories) {
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(directories.find(':', start), directories.size());
        const std::string directory = directories.substr(start, end - start);
        const std::unique_ptr<DIR, DirectoryClose> listing(opendir(directory.c_str()));
        for (const dirent* entry = listing ? readdir(listing.get()) : nullptr; entry != nullptr;
             entry = readdir(listing.get())) {
            if (is_hashed_name(entry->d_name)) {
                return true;
            }
        }
        if (end == directories.size()) {
            return false;
        }
        start = end + 1;
    }
}

unsigned long subject_hash(const X509_NAME* name) {
    // OpenSSL 1.1 takes the name as not const; it does not change it.
    return X509_NAME_hash(const_cast<X509_NAME*>(name));
}

#if OPENSSL_VERSION_NUMBER >= 0x30000000L
using LookupName = const X509_NAME*;
#else
using LookupName = X509_NAME*;
#endif

// The lookup method over a BundleIndex (the lookup's method data).
int index_by_subject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, LookupName name,
                     X509_OBJECT* ret) {
    const auto* index = static_cast<const BundleIndex*>(X509_LOOKUP_get_method_data(lookup));
    return type == X509_LU_X509 && index != nullptr &&
                   index->find(X509_LOOKUP_get_store(lookup), name, ret)
               ? 1
               : 0;
}

// Made once; it lives as long as the process, since a store that uses it may be freed at exit
// after every object of the program.
X509_LOOKUP_METHOD* index_lookup_method() {
    static X509_LOOKUP_METHOD* const method = [] {
        X509_LOOKUP_METHOD* made = X509_LOOKUP_meth_new("tarnel bundle index");
        if (made != nullptr) {
            X509_LOOKUP_meth_set_get_by_subject(made, index_by_subject);
        }
        return made;
    }();
    return method;
}

}  // namespace

bool is_hashed_name(const char* name) {
    constexpr size_t kHashDigits = 8;
    const size_t length = std::strlen(name);
    if (length < kHashDigits + 2 || name[kHashDigits] != '.') {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const bool digit = name[i] >= '0' && name[i] <= '9';
        if (i < kHashDigits ? !is_hex_digit(name[i]) : (i > kHashDigits && !digit)) {
            return false;
        }
    }
    return true;
}

BundleIndex::BundleIndex(const std::string& path) {
    const std::unique_ptr<BIO, BioFree> file(BIO_new_file(path.c_str(), "r"));
    // One PEM block at a time (text between blocks is passed over), each freed before the next
    // is read. A certificate is not decoded here, only framed: the subject's hash is all the
    // index needs, and decoding every public key of a system bundle would cost a hundred times
    // the rest of a stream's start.
    for (PemBlock block; file && block.read(file.get());) {
        if (!is_certificate_block(block.name)) {
            continue;
        }
        const std::string_view der(reinterpret_cast<const char*>(block.data),
                                   static_cast<size_t>(block.length));
        const std::string_view subject = certificate_subject(der);
        const auto* subject_der = reinterpret_cast<const unsigned char*>(subject.data());
        const std::unique_ptr<X509_NAME, X509NameFree> name(
            subject.empty()
                ? nullptr
                : d2i_X509_NAME(nullptr, &subject_der, static_cast<long>(subject.size())));
        if (name) {
            by_subject_hash_.emplace(subject_hash(name.get()), std::string(der));
        }
    }
    ERR_clear_error();  // the end of the file, or a file that cannot be read
}

bool BundleIndex::find(X509_STORE* store, const X509_NAME* name, X509_OBJECT* ret) const {
    bool added = false;
    const auto [first, last] = by_subject_hash_.equal_range(subject_hash(name));
    for (auto entry = first; entry != last; ++entry) {
        const auto* der = reinterpret_cast<const unsigned char*>(entry->second.data());
        const std::unique_ptr<X509, X509Free> certificate(
            d2i_X509_AUX(nullptr, &der, static_cast<long>(entry->second.size())));
        if (certificate && X509_NAME_cmp(X509_get_subject_name(certificate.get()), name) == 0) {
            // Kept by the store from now on, so later chains find it there (one that is there
            // already is no failure, and stays).
            X509_STORE_add_cert(store, certificate.get());
            added = true;
        }
    }
    ERR_clear_error();
    if (!added) {
        return false;
    }
    // As OpenSSL's own lookups do, ret borrows the store's certificate: the caller takes a
    // reference of its own.
    X509_STORE_lock(store);
    X509_OBJECT* const kept = X509_OBJECT_retrieve_by_subject(
        X509_STORE_get0_objects(store), X509_LU_X509, const_cast<X509_NAME*>(name));
    X509* const certificate = kept == nullptr ? nullptr : X509_OBJECT_get0_X509(kept);
    const bool found = certificate != nullptr && X509_OBJECT_set1_X509(ret, certificate) == 1;
    if (found) {
        X509_free(certificate);  // the reference that set1 took
    }
    X509_STORE_unlock(store);
    return found;
}

// Whether two paths name the same file (after links).
bool same_file(const char* one, const char* other) {
    const std::unique_ptr<char, decltype(&std::free)> first(realpath(one, nullptr), std::free);
    const std::unique_ptr<char, decltype(&std::free)> second(realpath(other, nullptr), std::free);
    return first && second && std::strcmp(first.get(), second.get()) == 0;
}

bool trust_system_store(X509_STORE* store, std::unique_ptr<BundleIndex>& index) {
    const char* directory_setting = std::getenv(X509_get_default_cert_dir_env());
    const char* file_setting = std::getenv(X509_get_default_cert_file_env());
    // An SSL_CERT_FILE that names the system's own bundle only says what is the default.
    if (file_setting != nullptr && same_file(file_setting, X509_get_default_cert_file())) {
        file_setting = nullptr;
    }
    const std::string directories =
        directory_setting != nullptr ? directory_setting : X509_get_default_cert_dir();
    const bool hashed = holds_hashed_certificates(directories);
    if (hashed) {
        X509_LOOKUP* const lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
        if (lookup == nullptr ||
            X509_LOOKUP_add_dir(lookup, directories.c_str(), X509_FILETYPE_PEM) != 1) {
            return false;
        }
    }
    if (file_setting != nullptr || !hashed) {
        index = std::make_unique<BundleIndex>(
            file_setting != nullptr ? file_setting : X509_get_default_cert_file());
        X509_LOOKUP_METHOD* const method = index_lookup_method();
        X509_LOOKUP* const lookup =
            method == nullptr ? nullptr : X509_STORE_add_lookup(store, method);
        if (lookup == nullptr || X509_LOOKUP_set_method_data(lookup, index.get()) != 1) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnel
