// The Debian package on this machine: installed with apt-get, its program run and streaming to
// the loopback server, its manual page found, its unit accepted by systemd, and removed again
// leaving nothing but the operator's configuration. The package is the one scripts/package
// built, named by TARNEL_PACKAGE (scripts/test sets it); without it, as a user other than root or
// without apt-get, the test is skipped. It changes the machine, and puts everything back.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/http_loopback_server.h"
#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/process.h"
#include "support/scoped_environment.h"
#include "support/tarnel_web_run.h"
#include "support/temp_dir.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

struct Result {
    int status;
    std::string output;
};

Result run(const std::string& program, const std::vector<std::string>& args,
           int timeout_ms = 180000) {
    const TempDir dir;
    const int status = run_program(program, args, dir.path(), dir.file("out.txt"), timeout_ms);
    return {status, read_file(dir.file("out.txt"))};
}

bool package_installed() {
    const Result status = run("/usr/bin/dpkg-query", {"-W", "-f=${Status}", "tarnel"});
    return status.output.find("installed") != std::string::npos &&
           status.output.find("not-installed") == std::string::npos;
}

bool user_exists(const std::string& name) {
    return run("/usr/bin/getent", {"passwd", name}).status == 0;
}

// What an operator keeps in the configuration directory: removing the package leaves it.
const char* const kStationConfig = "/etc/tarnel/tarnel-package-test.conf";

// apt-get waits for a dpkg lock held by another installation instead of failing.
const std::vector<std::string> kAptOptions = {"-y", "-q", "-o", "DPkg::Lock::Timeout=300"};

// Removes what the test installed, whatever step failed: the package, the operator's file the
// test wrote, and the system user if the package made it.
class MachineRestorer {
  public:
    explicit MachineRestorer(bool user_existed) : user_existed_(user_existed) {}
    ~MachineRestorer() {
        std::error_code ignored;
        std::filesystem::remove(kStationConfig, ignored);
        if (package_installed()) {
            std::vector<std::string> args = kAptOptions;
            args.insert(args.end(), {"purge", "tarnel"});
            run("/usr/bin/apt-get", args);
        }
        run("/usr/bin/dpkg", {"--purge", "tarnel"});
        std::filesystem::remove("/etc/tarnel", ignored);  // only when empty
        if (!user_existed_ && user_exists("tarnel")) {
            run("/usr/sbin/userdel", {"tarnel"});
            run("/usr/sbin/groupdel", {"tarnel"});
        }
    }
    MachineRestorer(const MachineRestorer&) = delete;
    MachineRestorer& operator=(const MachineRestorer&) = delete;

  private:
    bool user_existed_;
};

// Streams a 3-second clip to the loopback server with the installed program and compares what
// arrived with the clip.
void stream_with_installed_program() {
    LoopbackServer server;
    const TempDir dir;
    NsvWriter clip;
    clip.file_header("TITLE='Installed'").frames(90, 0x1E, 200, 40, 30);
    clip.write(dir.file("clip.nsv"));
    dir.write("list.plo", "#Mode=basic\nclip.nsv\n");
    dir.write("tarnel.conf", "Server=127.0.0.1\nPort=" + server.port_text() +
                                 "\nPlaylist=list.plo\nLogFile=tarnel.log\nRealTime=no\n"
                                 "ControlSocket=control.sock\n");
    Process tarnel("/usr/bin/tarnel", {"tarnel.conf"}, dir.path(), dir.file("console.txt"));
    NsvProcessState state;
    const std::string wire = expected_stream(clip.bytes(), {}, state).wire();
    ASSERT_TRUE(server.wait_for_connections(1, milliseconds(10000)))
        << read_file(dir.file("tarnel.log"));
    // The log-in is whole once stream bytes follow it; only then is the header's length known.
    // The stream is measured first: bytes arriving in between can only make the wait longer.
    ASSERT_TRUE(wait_until([&] { return !server.stream_bytes(0).empty(); }, 10000))
        << read_file(dir.file("tarnel.log"));
    const size_t streamed = server.stream_bytes(0).size();
    const size_t headers = server.bytes(0).size() - streamed;
    EXPECT_TRUE(server.wait_for_bytes(0, headers + wire.size(), milliseconds(10000)));
    // The installed control command reaches the installed program.
    const Result status = run("/usr/bin/tarnelctl", {"-s", dir.file("control.sock"), "status"});
    EXPECT_EQ(status.status, 0) << status.output;
    EXPECT_EQ(status.output.rfind("State:           streaming\n", 0), 0u) << status.output;
    tarnel.kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    EXPECT_NE(read_file(dir.file("tarnel.log")).find("Opened clip.nsv successfully!"),
              std::string::npos);
}

// The installed program loads its TLS module (OpenSSL is not linked into the program) and
// verifies with it: a server whose certificate another authority signed is refused.
void verify_tls_with_installed_program() {
    const TestPki trusted;
    const TestPki other("Some Other CA");
    const HttpLoopbackServer server(HttpScript(), tls_server_options(other.loopback_server()));
    const TempDir dir;
    dir.write("list.plo", "#Mode=basic\nnone.nsv\n");
    dir.write("tarnel.conf", "Server=127.0.0.1\nPort=" + std::to_string(server.port()) +
                                 "\nMount=/live\nTLS=yes\nTLSCAFile=" + trusted.ca_file() +
                                 "\nPlaylist=list.plo\nLogFile=tarnel.log\n");
    Process tarnel("/usr/bin/tarnel", {"tarnel.conf"}, dir.path(), dir.file("console.txt"));
    const std::string refused = "Error: TLS: the server's certificate is not trusted.";
    EXPECT_TRUE(wait_until(
        [&] { return read_file(dir.file("tarnel.log")).find(refused) != std::string::npos; },
        10000))
        << read_file(dir.file("tarnel.log"));
    tarnel.kill();
}

// The installed tarnel-web serves the metrics of a station's status file.
void serve_metrics_with_installed_program() {
    const TempDir run_dir;
    std::filesystem::create_directory(run_dir.file("news"));
    run_dir.write("news/status.json", "{\"state\": \"idle\", \"seconds_sent\": 7}");
    const int port = free_loopback_port();
    Process web("/usr/bin/tarnel-web",
                {"--listen", "127.0.0.1:" + std::to_string(port), "--run-dir", run_dir.path(),
                 "--config", "/dev/null"},
                run_dir.path(), run_dir.file("web.txt"));
    ASSERT_TRUE(wait_until([&] { return connect_loopback(port).get() >= 0; }, 10000))
        << read_file(run_dir.file("web.txt"));
    const Descriptor connection = connect_loopback(port);
    const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(send(connection.get(), request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string reply;
    char buffer[4096];
    for (ssize_t got; (got = recv(connection.get(), buffer, sizeof buffer, 0)) > 0;) {
        reply.append(buffer, static_cast<size_t>(got));
    }
    EXPECT_NE(reply.find("tarnel_sent_seconds_total{station=\"news\"} 7\n"), std::string::npos)
        << reply;
}

TEST(InstalledPackageTest, InstallsRunsStreamsAndRemovesCleanly) {
    const char* package = std::getenv("TARNEL_PACKAGE");
    if (package == nullptr || !file_exists(package)) {
        GTEST_SKIP() << "no package to install (scripts/package builds it; set TARNEL_PACKAGE)";
    }
    if (geteuid() != 0 || access("/usr/bin/apt-get", X_OK) != 0) {
        GTEST_SKIP() << "installing a package needs root and apt-get";
    }
    if (package_installed()) {
        GTEST_SKIP() << "the package is installed already; the test leaves it alone";
    }
    const MachineRestorer restorer(user_exists("tarnel"));
    const ScopedEnvironment frontend("DEBIAN_FRONTEND", "noninteractive");

    // Minimal images may keep manual pages out (a path-exclude in /etc/dpkg/dpkg.cfg.d); the
    // package's own pages are let in again for this installation.
    std::vector<std::string> install = kAptOptions;
    install.insert(install.end(),
                   {"-o", "DPkg::Options::=--path-include=/usr/share/man/man*/tarnel*", "install",
                    "--no-install-recommends", std::filesystem::absolute(package).string()});
    const Result installed = run("/usr/bin/apt-get", install);
    ASSERT_EQ(installed.status, 0) << installed.output;
    ASSERT_TRUE(package_installed());
    const Result listed = run("/usr/bin/dpkg", {"-L", "tarnel"});

    const Result version = run("/usr/bin/tarnel", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, "tarnel " TARNEL_VERSION "\n");
    const Result control = run("/usr/bin/tarnelctl", {"--version"});
    EXPECT_EQ(control.status, 0);
    EXPECT_EQ(control.output, "tarnelctl " TARNEL_VERSION "\n");

    const Result web_version = run("/usr/bin/tarnel-web", {"--version"});
    EXPECT_EQ(web_version.status, 0);
    EXPECT_EQ(web_version.output, "tarnel-web " TARNEL_VERSION "\n");

    for (const auto& [section, page] : {std::pair<const char*, const char*>{"1", "tarnel"},
                                        {"5", "tarnel.conf"},
                                        {"1", "tarnel-nsv"},
                                        {"1", "tarnelctl"},
                                        {"1", "tarnel-web"}}) {
        const Result found = run("/usr/bin/man", {"-w", section, page});
        EXPECT_EQ(found.status, 0) << page << ": " << found.output;
        EXPECT_EQ(found.output, std::string("/usr/share/man/man") + section + "/" + page + "." +
                                    section + ".gz\n");
    }

    for (const char* unit : {"tarnel@.service", "tarnel-web.service"}) {
        const Result verified = run("/usr/bin/systemd-analyze",
                                    {"verify", std::string("/usr/lib/systemd/system/") + unit});
        EXPECT_EQ(verified.status, 0) << unit << ": " << verified.output;
        EXPECT_EQ(verified.output, "") << unit;
    }

    EXPECT_TRUE(user_exists("tarnel"));
    struct stat config_dir {};
    EXPECT_EQ(stat("/etc/tarnel", &config_dir), 0);

    stream_with_installed_program();
    verify_tls_with_installed_program();
    serve_metrics_with_installed_program();

    // Removing the package keeps the operator's configuration, and nothing else.
    std::ofstream(kStationConfig) << "Server=127.0.0.1\n";
    std::vector<std::string> remove = kAptOptions;
    remove.insert(remove.end(), {"remove", "tarnel"});
    const Result removed = run("/usr/bin/apt-get", remove);
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_FALSE(package_installed());
    EXPECT_TRUE(file_exists(kStationConfig));
    std::istringstream paths(listed.output);
    for (std::string path; std::getline(paths, path);) {
        struct stat left {};
        const bool exists = lstat(path.c_str(), &left) == 0;
        if (path == "/etc/tarnel") {
            EXPECT_TRUE(exists) << "the directory that holds the configuration";
        } else if (exists && !S_ISDIR(left.st_mode)) {
            ADD_FAILURE() << path << " is left behind";
        } else if (exists && path.find("tarnel") != std::string::npos) {
            ADD_FAILURE() << "the directory " << path << " is left behind";
        }
    }
}

}  // namespace
}  // namespace tarnel::test
