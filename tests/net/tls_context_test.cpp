#include "net/tls_context.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "net/http_client.h"
#include "net/socket_exception.h"
#include "net/title_update.h"
#include "net/tls_transport.h"
#include "support/console_capture.h"
#include "support/http_loopback_server.h"
#include "support/net_settings.h"
#include "support/scoped_environment.h"
#include "support/socket_failure.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

const TestPki& pki() {
    static const TestPki made;
    return made;
}
const TestPki& other_pki() {
    static const TestPki made("Some Other CA");
    return made;
}

// Every test starts and ends without a context, so none is left from another test.
class TlsContextTest : public ::testing::Test {
  protected:
    TlsContextTest() { reset_tls_client_context(); }
    ~TlsContextTest() override { reset_tls_client_context(); }

    // A TLS connection to the server that sends a GET and reads the answer's head (the session
    // tickets come with it); whether its handshake resumed a session.
    static bool exchange(const HttpLoopbackServer& server) {
        std::unique_ptr<Transport> connection = open_transport("127.0.0.1", server.port(), true);
        connection->write_text("GET /admin/metadata HTTP/1.0\r\n\r\n");
        EXPECT_EQ(read_http_reply(*connection).status, 200);
        return dynamic_cast<const TlsTransport&>(*connection).resumed();
    }

    ScopedNetSettings settings_;
    ConsoleCapture console_;
};

TEST_F(TlsContextTest, OneContextServesEveryConnectionUntilTheTrustChanges) {
    const TempDir dir;
    const std::string ca_file = dir.write("ca.pem", read_file(pki().ca_file()));
    const std::shared_ptr<TlsClientContext> first = tls_client_context(ca_file);
    EXPECT_EQ(tls_client_context(ca_file), first);

    // Another file: another context (a configuration reload that changes TLSCAFile=).
    const std::string other_file = dir.write("other.pem", read_file(other_pki().ca_file()));
    const std::shared_ptr<TlsClientContext> other = tls_client_context(other_file);
    EXPECT_NE(other, first);
    EXPECT_EQ(tls_client_context(other_file), other);
    // The system's store.
    EXPECT_NE(tls_client_context(""), other);

    // A file that cannot be read is the usual failure, and leaves no context behind.
    EXPECT_EQ(failure_of([&] { tls_client_context(dir.file("missing.pem")); }),
              "TLS: the certificates of TLSCAFile could not be read.");
}

// The operator replaces the CA file under the same name and reloads: the next connection trusts
// what the file holds now, as it did when every connection read the file again.
TEST_F(TlsContextTest, AReplacedCaFileIsReadAgain) {
    const TempDir dir;
    const HttpLoopbackServer server({}, tls_server_options(other_pki().loopback_server()));
    tls_ca_file = dir.write("ca.pem", read_file(pki().ca_file()));
    EXPECT_EQ(failure_of([&] { open_transport("127.0.0.1", server.port(), true); }),
              "TLS: the server's certificate is not trusted.");
    const std::shared_ptr<TlsClientContext> before = tls_client_context(tls_ca_file);

    const std::string replacement = dir.write("new.pem", read_file(other_pki().ca_file()));
    std::filesystem::rename(replacement, tls_ca_file);
    EXPECT_NE(tls_client_context(tls_ca_file), before);
    EXPECT_EQ(failure_of([&] { open_transport("127.0.0.1", server.port(), true); }), "");
}

TEST_F(TlsContextTest, ALaterConnectionToTheSameServerResumesTheSession) {
    tls_ca_file = pki().ca_file();
    for (const bool tls12 : {false, true}) {
        SCOPED_TRACE(tls12 ? "TLS 1.2" : "TLS 1.3");
        HttpServerOptions options = tls_server_options(pki().loopback_server());
        options.tls12_only = tls12;
        const HttpLoopbackServer server({}, options);
        EXPECT_FALSE(exchange(server));
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(exchange(server)) << i;
        }
        // Sessions are kept by host and port: another server starts afresh.
        const HttpLoopbackServer another({}, options);
        EXPECT_FALSE(exchange(another));
    }
}

// The legacy title update does not read its answer, but it still keeps the server's session for
// the next update.
TEST_F(TlsContextTest, ALegacyTitleUpdateKeepsTheSessionForTheNext) {
    tls_ca_file = pki().ca_file();
    const HttpLoopbackServer admin({}, tls_server_options(pki().loopback_server()));
    port = admin.port_text();
    update_title("One", "", {"", true});
    EXPECT_TRUE(tls_client_context(tls_ca_file)->has_session("127.0.0.1:" + port));
    update_title("Two", "", {"", true});
    ASSERT_TRUE(admin.wait_for_heads(2, milliseconds(5000)));
    EXPECT_EQ(logged_lines(console_.text()), "Title Updated (One)\nTitle Updated (Two)\n");
}

// The title update may run beside the stream: connections are opened from two threads at once.
TEST_F(TlsContextTest, ConnectionsFromTwoThreadsShareTheContext) {
    tls_ca_file = pki().ca_file();
    const HttpLoopbackServer server({}, tls_server_options(pki().loopback_server()));
    std::vector<std::thread> threads;
    std::vector<int> done(2, 0);
    for (size_t t = 0; t < done.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i) {
                std::unique_ptr<Transport> connection =
                    open_transport("127.0.0.1", server.port(), true);
                connection->write_text("GET / HTTP/1.0\r\n\r\n");
                done[t] += read_http_reply(*connection).status == 200 ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(done, (std::vector<int>{8, 8}));
}

// The system's store: its hashed directory (SSL_CERT_DIR) is enough, and a bundle that
// SSL_CERT_FILE names is read too.
TEST_F(TlsContextTest, TheSystemStoreIsItsHashedDirectoryOrItsBundle) {
    const TempDir hashed;
    const TempDir unhashed;
    {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> pem(
            std::fopen(pki().ca_file().c_str(), "r"), std::fclose);
        ASSERT_TRUE(pem);
        std::unique_ptr<X509, void (*)(X509*)> ca(
            PEM_read_X509(pem.get(), nullptr, nullptr, nullptr), X509_free);
        ASSERT_TRUE(ca);
        char name[16];
        std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(ca.get()));
        hashed.write(name, read_file(pki().ca_file()));
    }
    unhashed.write("ca.pem", read_file(pki().ca_file()));
    const HttpLoopbackServer server({}, tls_server_options(pki().loopback_server()));
    tls_ca_file = "";
    struct Case {
        const char* name;
        std::string directory;
        std::string file;  // SSL_CERT_FILE, or none
        const char* failure;
    };
    const std::vector<Case> cases = {
        {"the authority in the hashed directory", hashed.path(), "", ""},
        {"the authority in a bundle named by SSL_CERT_FILE", unhashed.path(),
         unhashed.file("ca.pem"), ""},
        {"neither", unhashed.path(), "", "TLS: the server's certificate is not trusted."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        reset_tls_client_context();
        const ScopedEnvironment directory("SSL_CERT_DIR", c.directory);
        const std::unique_ptr<ScopedEnvironment> file =
            c.file.empty() ? std::make_unique<ScopedEnvironment>("SSL_CERT_FILE")
                           : std::make_unique<ScopedEnvironment>("SSL_CERT_FILE", c.file);
        EXPECT_EQ(failure_of([&] { open_transport("localhost", server.port(), true); }), c.failure);
    }
}

}  // namespace
}  // namespace tarnel::test
