#include "control/control_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "control/control_reply.h"
#include "support/control_client.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

// Serves a ControlServer from a thread of its own, as the station's waits do: poll on its
// descriptors, then serve. Every complete request is answered 200 with its method and path.
class ServingThread {
  public:
    explicit ServingThread(ControlServer& server) : server_(server) {
        thread_ = std::thread([this] { run(); });
    }
    ~ServingThread() {
        stopping_ = true;
        thread_.join();
    }
    ServingThread(const ServingThread&) = delete;
    ServingThread& operator=(const ServingThread&) = delete;

    size_t most_clients() const { return most_clients_; }
    size_t requests() const { return requests_; }

  private:
    void run() {
        while (!stopping_) {
            std::vector<pollfd> descriptors;
            server_.add_poll_descriptors(descriptors);
            ::poll(descriptors.data(), descriptors.size(), 20);
            server_.serve([this](const ControlRequest& request) {
                ++requests_;
                ControlReply reply;
                reply.body["method"] = request.method;
                reply.body["path"] = request.path;
                reply.body["body"] = request.body;
                return reply_bytes(reply);
            });
            most_clients_ = std::max<size_t>(most_clients_, server_.client_count());
        }
    }

    ControlServer& server_;
    std::atomic<bool> stopping_{false};
    std::atomic<size_t> most_clients_{0};
    std::atomic<size_t> requests_{0};
    std::thread thread_;
};

mode_t mode_of(const std::string& path) {
    struct stat file {};
    return lstat(path.c_str(), &file) == 0 ? file.st_mode : 0;
}

// A socket file that nothing answers on, as a killed station leaves it.
void leave_stale_socket(const std::string& path) {
    const Descriptor socket(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
}

std::string claim_failure(const std::string& path) {
    try {
        const ControlServer server(path);
    } catch (const ControlSocketError& error) {
        return error.text();
    }
    return "";
}

TEST(ControlSocketFileTest, IsASocketForOwnerAndGroupOnlyAndGoesAwayWithTheServer) {
    const TempDir dir;
    const std::string path = dir.file("control.sock");
    {
        const ControlServer server(path);
        EXPECT_TRUE(S_ISSOCK(mode_of(path)));
        EXPECT_EQ(mode_of(path) & 0777, 0660u);
    }
    EXPECT_FALSE(file_exists(path));
}

TEST(ControlSocketFileTest, AStaleSocketIsReplaced) {
    const TempDir dir;
    const std::string path = dir.file("control.sock");
    leave_stale_socket(path);
    ASSERT_TRUE(S_ISSOCK(mode_of(path)));
    ControlServer server(path);
    const ServingThread serving(server);
    EXPECT_EQ(control_request(path, "GET", "/status").status, 200);
}

TEST(ControlSocketFileTest, ALiveOneAndOtherFilesAreRefusedAndLeftAlone) {
    const TempDir dir;
    const std::string path = dir.file("control.sock");
    ControlServer live(path);
    EXPECT_EQ(claim_failure(path), "another running station answers on it");
    const ServingThread serving(live);
    EXPECT_EQ(control_request(path, "GET", "/status").status, 200);

    const std::string file = dir.write("notes.txt", "keep me");
    EXPECT_EQ(claim_failure(file), "a file that is not a socket is in the way");
    EXPECT_EQ(read_file(file), "keep me");
    EXPECT_EQ(claim_failure(dir.file("missing/control.sock")), "No such file or directory");
    EXPECT_EQ(claim_failure(dir.path() + "/" + std::string(120, 'x')),
              "the path is longer than 107 bytes");
}

TEST(ControlSocketFileTest, ARelativePathIsRemovedAfterTheWorkingDirectoryChanged) {
    const TempDir dir;
    const std::string path = dir.file("control.sock");
    std::unique_ptr<ControlServer> server;
    {
        const ScopedChdir inside(dir.path());
        server = std::make_unique<ControlServer>("control.sock");
    }
    ASSERT_TRUE(file_exists(path));
    server.reset();  // from another working directory, as after a playlist's #cd
    EXPECT_FALSE(file_exists(path));
}

TEST(ControlSocketFileTest, ASocketPutThereByAnotherStationIsNotRemoved) {
    const TempDir dir;
    const std::string path = dir.file("control.sock");
    {
        const ControlServer first(path);
        std::remove(path.c_str());
        leave_stale_socket(path);
    }
    EXPECT_TRUE(S_ISSOCK(mode_of(path)));
}

TEST(ControlServerTest, AnswersARequestAndClosesTheConnection) {
    const TempDir dir;
    ControlServer server(dir.file("control.sock"));
    const ServingThread serving(server);
    const ControlAnswer answer =
        control_request(server.path(), "POST", "/queue", R"({"entry":"a.nsv"})");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body,
              nlohmann::json::parse(
                  R"({"method":"POST","path":"/queue","body":"{\"entry\":\"a.nsv\"}"})"));
}

TEST(ControlServerTest, SaysContinueToAClientThatWaitsForIt) {
    const TempDir dir;
    ControlServer server(dir.file("control.sock"));
    const ServingThread serving(server);
    const Descriptor client = connect_unix(server.path());
    const std::string head =
        "POST /title HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 4\r\n\r\n";
    ASSERT_EQ(::send(client.get(), head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
    char interim[64] = {};
    ASSERT_GT(::recv(client.get(), interim, sizeof interim - 1, 0), 0);
    EXPECT_STREQ(interim, kContinueReply);
    const ControlAnswer answer = answer_of(send_and_read(client, "body"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body["body"], "body");
}

TEST(ControlServerTest, GarbageIsAnsweredBadRequest) {
    const TempDir dir;
    ControlServer server(dir.file("control.sock"));
    const ServingThread serving(server);
    const Descriptor client = connect_unix(server.path());
    const ControlAnswer answer =
        answer_of(send_and_read(client, std::string("\x00\xff garbage\r\n", 12)));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body["error"], "malformed request line");
    EXPECT_EQ(serving.requests(), 0u);
}

TEST(ControlServerTest, AClientThatSendsNothingIsToldAndClosedAfterItsTime) {
    const TempDir dir;
    ControlServer::Limits limits;
    limits.client_time = milliseconds(300);
    ControlServer server(dir.file("control.sock"), limits);
    {
        const ServingThread serving(server);
        const Descriptor silent = connect_unix(server.path());
        const auto start = std::chrono::steady_clock::now();
        const ControlAnswer answer =
            answer_of(send_and_read(silent, "GET /sta", milliseconds(5000)));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(answer.status, 408);
        EXPECT_GE(waited, milliseconds(250));
        EXPECT_LT(waited, milliseconds(3000));
    }
    // Counted once the serving thread has stopped: the client closed is the client forgotten.
    EXPECT_EQ(server.client_count(), 0u);
}

TEST(ControlServerTest, AHugeRequestIsRefusedWithoutBeingRead) {
    const TempDir dir;
    ControlServer server(dir.file("control.sock"));
    const ServingThread serving(server);
    const std::string huge = "POST /title HTTP/1.1\r\nContent-Length: 10485760\r\n\r\n" +
                             std::string(10 * 1024 * 1024, 'x');
    const Descriptor client = connect_unix(server.path());
    const ControlAnswer answer = answer_of(send_and_read(client, huge));
    EXPECT_EQ(answer.status, 413);
    // Also without a length: a head that never ends.
    const Descriptor endless = connect_unix(server.path());
    EXPECT_EQ(
        answer_of(send_and_read(endless, "GET /" + std::string(10 * 1024 * 1024, 'a'))).status,
        431);
    EXPECT_EQ(serving.requests(), 0u);
}

TEST(ControlServerTest, AFloodOfConnectionsIsBoundedAndTheServerStillAnswers) {
    const TempDir dir;
    ControlServer::Limits limits;
    limits.client_time = milliseconds(500);
    ControlServer server(dir.file("control.sock"), limits);
    std::vector<Descriptor> flood;
    {
        const ServingThread serving(server);
        for (int i = 0; i < 1000; ++i) {
            Descriptor connection = connect_unix(server.path(), true);
            if (connection.get() != -1) {
                flood.push_back(std::move(connection));
            }
        }
        EXPECT_GE(flood.size(), 64u);  // at least the backlog got in
        ASSERT_TRUE(wait_until(
            [&] { return control_request(server.path(), "GET", "/status").status == 200; }, 10000));
        EXPECT_LE(serving.most_clients(), limits.max_clients);
    }
    // Those over the limit were told so at once.
    size_t busy = 0;
    for (const Descriptor& connection : flood) {
        char reply[256] = {};
        if (::recv(connection.get(), reply, sizeof reply - 1, MSG_DONTWAIT) > 0 &&
            std::strstr(reply, " 503 ") != nullptr) {
            ++busy;
        }
    }
    EXPECT_GE(busy, flood.size() - limits.max_clients);
}

}  // namespace
}  // namespace tarnel::test
