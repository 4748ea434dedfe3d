// The real program over Icecast's protocol and TLS against loopback stand-ins: certificate faults
// as the operator sees them, and a server name whose first address does not answer.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/http_loopback_server.h"
#include "support/loopback_listener.h"
#include "support/loopback_server.h"
#include "support/nsv_writer.h"
#include "support/process.h"
#include "support/tarnel_run.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kTestName = "tarnel-test.invalid";

TEST(TlsEndToEndTest, EachCertificateFaultIsLoggedClearlyAndTheCountdownFollows) {
    const TestPki pki;
    const TestPki other("Some Other CA");
    struct Case {
        const char* name;
        TestPki::Server certificate;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"wrong authority", other.loopback_server(),
         "Error: TLS: the server's certificate is not trusted.\n"},
        {"wrong host name", pki.issue("elsewhere", {"DNS:stream.example.org"}),
         "Error: TLS: the server's certificate is not for this host name.\n"},
        {"expired", pki.issue("expired", {"IP:127.0.0.1"}, -7200, -3600),
         "Error: TLS: the server's certificate has expired.\n"},
    };
    // All at once: each waits for its countdown to start.
    std::vector<std::unique_ptr<HttpLoopbackServer>> servers;
    std::vector<std::unique_ptr<TarnelRun>> runs;
    for (const Case& c : cases) {
        servers.push_back(
            std::make_unique<HttpLoopbackServer>(HttpScript(), tls_server_options(c.certificate)));
        runs.push_back(std::make_unique<TarnelRun>(servers.back()->port()));
        runs.back()->configure("Mount=/live\nTLS=yes\nTLSCAFile=" + pki.ca_file() +
                               "\nAutoReconnect=yes\n");
        runs.back()->playlist("#Mode=basic\nnone.nsv\n");
        runs.back()->start();
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        TarnelRun& run = *runs[i];
        ASSERT_TRUE(wait_until(
            [&] { return run.console().find("Waiting to reconnect [29]") != std::string::npos; },
            15000))
            << run.console();
        run.process().kill();
        const std::string log = run.log();
        EXPECT_NE(log.find(cases[i].error), std::string::npos) << log;
        EXPECT_EQ(log.find("Connection Success"), std::string::npos) << log;
        // The error comes before the countdown, and the server saw no request.
        const std::string console = run.console();
        const size_t error_at = console.find("Error: TLS: ");
        const size_t countdown_at = console.find("Waiting to reconnect [30]");
        EXPECT_NE(error_at, std::string::npos) << console;
        EXPECT_NE(countdown_at, std::string::npos) << console;
        EXPECT_LT(error_at, countdown_at);
        EXPECT_TRUE(servers[i]->exchanges().empty() || servers[i]->exchanges()[0].head.empty());
    }
}

// A socket bound to [::1]:port that does not listen: a connection there is refused.
Descriptor refuse_on_ipv6(int port) {
    Descriptor blocker(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    address.sin6_addr = in6addr_loopback;
    if (::bind(blocker.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return Descriptor();
    }
    return blocker;
}

// The command that runs what follows it with hosts_file as /etc/hosts, in a mount namespace of
// its own (needs root), so the resolver's answer is ours on any machine.
std::vector<std::string> with_hosts(const std::string& hosts_file) {
    return {"/usr/bin/unshare",
            "-m",
            "--propagation",
            "private",
            "/bin/sh",
            "-c",
            "mount --bind \"$0\" /etc/hosts && exec \"$@\"",
            hosts_file};
}

TEST(NameResolutionEndToEndTest, ANameWhoseFirstAddressRefusesIsReachedByItsNextOne) {
    const TempDir dir;
    const std::string hosts =
        dir.write("hosts", std::string("::1 ") + kTestName + "\n127.0.0.1 " + kTestName + "\n");
    // The resolver gives ::1 first (the default address selection puts it before 127.0.0.1).
    std::vector<std::string> probe = with_hosts(hosts);
    probe.insert(probe.end(), {"/usr/bin/getent", "ahosts", kTestName});
    const std::vector<std::string> probe_args(probe.begin() + 1, probe.end());
    if (geteuid() != 0 ||
        run_program(probe[0], probe_args, dir.path(), dir.file("probe.txt")) != 0) {
        GTEST_SKIP() << "cannot give a program its own /etc/hosts (needs root and unshare): "
                     << read_file(dir.file("probe.txt"));
    }
    const std::string resolved = read_file(dir.file("probe.txt"));
    ASSERT_EQ(resolved.substr(0, 4), "::1 ") << resolved;

    // Both protocols; only 127.0.0.1 listens, ::1 refuses on every port they use.
    const LoopbackServer legacy;
    const HttpLoopbackServer icecast;
    std::vector<Descriptor> blockers;
    for (const int port : {legacy.base_port(), legacy.source_port(), icecast.port()}) {
        blockers.push_back(refuse_on_ipv6(port));
        ASSERT_NE(blockers.back().get(), -1) << port;
    }
    NsvWriter writer;
    writer.frames(60, 0x1E, 500, 50, 30);
    TarnelRun legacy_run(legacy);
    TarnelRun icecast_run(icecast.port());
    for (TarnelRun* run : {&legacy_run, &icecast_run}) {
        writer.write(run->dir().file("clip.nsv"));
        run->configure(std::string("Server=") + kTestName + "\n" +
                       (run == &icecast_run ? "Mount=/live\n" : ""));
        run->playlist("#Mode=basic\nclip.nsv\n");
        run->start(with_hosts(hosts));
    }
    ASSERT_TRUE(legacy.wait_for_bytes(0, 4096, milliseconds(10000))) << legacy_run.log();
    ASSERT_TRUE(icecast.wait_for_body(0, 4096, milliseconds(10000))) << icecast_run.log();
    ASSERT_TRUE(icecast.wait_for_heads(2, milliseconds(10000))) << icecast_run.log();
    ASSERT_TRUE(legacy.wait_for_admin_requests(1, milliseconds(10000))) << legacy_run.log();
    EXPECT_NE(icecast.exchanges()[0].head.find(std::string("\r\nHost: ") + kTestName + ":"),
              std::string::npos);
    for (TarnelRun* run : {&legacy_run, &icecast_run}) {
        EXPECT_TRUE(run->wait_for_log("Title Updated (", milliseconds(5000))) << run->log();
        EXPECT_EQ(run->log().find("Error"), std::string::npos) << run->log();
    }
}

}  // namespace
}  // namespace tarnel::test
