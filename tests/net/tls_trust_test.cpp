#include "net/tls_trust.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

struct StoreFree {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ObjectFree {
    void operator()(X509_OBJECT* object) const { X509_OBJECT_free(object); }
};

std::unique_ptr<X509, X509Free> read_certificate(const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"),
                                                         std::fclose);
    return std::unique_ptr<X509, X509Free>(
        file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

int objects_in(X509_STORE* store) {
    return sk_X509_OBJECT_num(X509_STORE_get0_objects(store));
}

TEST(BundleIndexTest, DecodesOnlyTheCertificateAChainAsksFor) {
    const TestPki ours;
    const TestPki other("Some Other CA");
    const TestPki unknown("Unknown CA");
    const TempDir dir;
    const std::string bundle = dir.write(
        "bundle.pem", read_file(ours.ca_file()) + "not PEM at all\n" + read_file(other.ca_file()));
    const BundleIndex index(bundle);
    EXPECT_EQ(index.size(), 2u);

    const std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    EXPECT_EQ(objects_in(store.get()), 0);
    const auto wanted = read_certificate(other.ca_file());
    const std::unique_ptr<X509_OBJECT, ObjectFree> found(X509_OBJECT_new());
    ASSERT_TRUE(index.find(store.get(), X509_get_subject_name(wanted.get()), found.get()));
    X509_OBJECT_up_ref_count(found.get());  // ret borrows the store's: the caller takes its own
    EXPECT_EQ(X509_cmp(X509_OBJECT_get0_X509(found.get()), wanted.get()), 0);
    EXPECT_EQ(objects_in(store.get()), 1);  // that one, and not the other

    const auto stranger = read_certificate(unknown.ca_file());
    const std::unique_ptr<X509_OBJECT, ObjectFree> none(X509_OBJECT_new());
    EXPECT_FALSE(index.find(store.get(), X509_get_subject_name(stranger.get()), none.get()));
    EXPECT_EQ(BundleIndex(dir.file("missing.pem")).size(), 0u);
}

// With SSL_CERT_FILE, the system's store takes the bundle's certificates on demand: nothing is
// decoded into the store before a chain asks.
TEST(TrustSystemStoreTest, ABundleIsIndexedNotDecodedIntoTheStore) {
    const TestPki ours;
    const TempDir empty;
    const TempDir dir;
    const std::string bundle = dir.write("bundle.pem", read_file(ours.ca_file()));
    const ScopedEnvironment directory("SSL_CERT_DIR", empty.path());
    const ScopedEnvironment file("SSL_CERT_FILE", bundle);
    const std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<BundleIndex> index;
    ASSERT_TRUE(trust_system_store(store.get(), index));
    ASSERT_TRUE(index);
    EXPECT_EQ(index->size(), 1u);
    EXPECT_EQ(objects_in(store.get()), 0);
}

// This machine's kind of environment: SSL_CERT_FILE set to the system's own bundle, which the
// hashed directory holds too. It is the default, and the directory alone is looked up.
TEST(TrustSystemStoreTest, SslCertFileNamingTheSystemBundleAddsNoIndex) {
    if (access(X509_get_default_cert_file(), R_OK) != 0) {
        GTEST_SKIP() << "no system bundle at " << X509_get_default_cert_file();
    }
    const TempDir hashed;
    hashed.write("5ad8a5d6.0", "");
    const ScopedEnvironment directory("SSL_CERT_DIR", hashed.path());
    const ScopedEnvironment file("SSL_CERT_FILE", X509_get_default_cert_file());
    const std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    std::unique_ptr<BundleIndex> index;
    ASSERT_TRUE(trust_system_store(store.get(), index));
    EXPECT_FALSE(index);
}

}  // namespace
}  // namespace tarnel::test
