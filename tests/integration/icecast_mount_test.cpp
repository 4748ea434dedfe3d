// Tarnel against a real Icecast 2 by Icecast's own protocol: a PUT to a mount that has a source
// password of its own, in plain HTTP and in TLS, with a listener on the mount and ffmpeg decoding
// what the listener received.

#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <thread>

#include "support/icecast_server.h"
#include "support/media.h"
#include "support/nsv_expected.h"
#include "support/tarnel_run.h"
#include "support/test_pki.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kClipSeconds = 3;
constexpr const char* kMount = "/tarnel.nsv";
constexpr const char* kMountPassword = "mount-secret";

class IcecastMountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!IcecastServer::available() || !have_ffmpeg()) {
            GTEST_SKIP() << "icecast2 or ffmpeg is not installed";
        }
        std::string diagnostics;
        one_ = make_clip(media_.path(), "one", "Artist - First Clip", kClipSeconds, diagnostics);
        two_ = make_clip(media_.path(), "two", "Second Clip", kClipSeconds, diagnostics);
        ASSERT_FALSE(one_.empty() || two_.empty()) << diagnostics;
        for (const std::string& clip : {one_, two_}) {
            clip_frames_.push_back(video_frame_md5s(clip));
        }
    }

    static IcecastServer::Options options(const std::string& certificate = "") {
        IcecastServer::Options chosen;
        chosen.own_mount = kMount;
        chosen.own_mount_password = kMountPassword;
        chosen.tls_certificate = certificate;
        return chosen;
    }

    void configure(TarnelRun& run, const std::string& extra) const {
        run.configure("Password=" + std::string(kMountPassword) + "\nMount=" + kMount +
                      "\nStreamName=Tarnel Mount\nGenre=Testing\nBitrate=123\n" + extra);
        run.playlist("#Mode=basic\n" + one_ + "\n" + two_ + "\n");
    }

    // Listens from the moment the mount is up until both titles were shown, and checks that the
    // listener got decodable video: from the stream's first byte when from_start, otherwise from
    // the start of one of the files (a reconnection resumes a file from its start).
    void listen_and_check(const IcecastServer& icecast, const TarnelRun& run, bool from_start) {
        ASSERT_TRUE(wait_until(
            [&] {
                return icecast.http_get("/status-json.xsl").find("Tarnel Mount") !=
                       std::string::npos;
            },
            45000))
            << run.log() << icecast.error_log();
        StreamCapture capture(icecast.port(), kMount);
        ASSERT_TRUE(capture.connected());
        std::set<std::string> titles;
        std::string status;
        for (int i = 0;
             i < 60 && !(titles.count("Artist - First Clip") && titles.count("Second Clip")); ++i) {
            status = icecast.http_get("/status-json.xsl");
            titles.insert(source_title(status));
            std::this_thread::sleep_for(milliseconds(250));
        }
        std::this_thread::sleep_for(seconds(1));
        capture.stop();
        EXPECT_NE(status.find("\"server_name\":\"Tarnel Mount\""), std::string::npos) << status;
        EXPECT_NE(status.find("\"genre\":\"Testing\""), std::string::npos) << status;
        EXPECT_TRUE(titles.count("Artist - First Clip")) << status;
        EXPECT_TRUE(titles.count("Second Clip")) << status;

        const std::string received = capture.body();
        ASSERT_EQ(received.substr(0, 4), "NSVs");
        const std::vector<std::string> got =
            video_frame_md5s(media_.write("captured.nsv", received));
        ASSERT_GT(got.size(), static_cast<size_t>(kClipSeconds * 30));
        // The capture plays the files in turn, whole, from one of their starts; its last frame
        // may be cut, so it is left out.
        std::vector<std::string> expected;
        size_t first = 0;
        if (!from_start && got[0] == clip_frames_[1][0]) {
            first = 1;
        }
        for (size_t round = 0; expected.size() < got.size(); ++round) {
            const auto& frames = clip_frames_[(first + round) % 2];
            expected.insert(expected.end(), frames.begin(), frames.end());
        }
        for (size_t i = 0; i + 1 < got.size(); ++i) {
            ASSERT_EQ(got[i], expected[i]) << "video frame " << i;
        }
    }

    TempDir media_;
    std::string one_;
    std::string two_;
    std::vector<std::vector<std::string>> clip_frames_;
};

TEST_F(IcecastMountTest, APutToTheMountStreamsFromItsFirstByteAndAWrongPasswordIsRefused) {
    IcecastServer icecast(options());
    TarnelRun run(icecast.port());
    configure(run, "");
    run.start();
    // No pause follows the log-in on this protocol: the listener's capture holds the stream
    // from its very first byte, and the first file's title is taken at once.
    listen_and_check(icecast, run, true);
    run.process().kill();
    const std::string log = run.log();
    EXPECT_NE(log.find("Connection Success\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Title Updated (Artist - First Clip)\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;

    struct Case {
        const char* name;
        std::string extra;
        const char* error;
    };
    const std::vector<Case> cases = {
        // The legacy source password is not the mount's.
        {"wrong password", "Password=" + icecast.options().source_password + "\n",
         "Error: Invalid Password\n"},
        // The legacy source port does not speak TLS: Icecast waits for a password line that never
        // ends until the connection time-out ("handshake timed out"), or closes on one that a
        // line feed among the ClientHello's random bytes ended ("handshake failed").
        {"TLS on the legacy port", "Mount=\nPassword=hackme\nTLS=yes\n", "Error: TLS: handshake "},
    };
    // Both at once: the second waits out the connection time-out.
    std::vector<std::unique_ptr<TarnelRun>> runs;
    for (const Case& c : cases) {
        runs.push_back(std::make_unique<TarnelRun>(icecast.port()));
        configure(*runs.back(), c.extra);
        runs.back()->start();
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(runs[i]->process().wait(30000), 1);  // a failed connection without reconnection
        EXPECT_NE(runs[i]->log().find(cases[i].error), std::string::npos) << runs[i]->log();
    }
}

TEST_F(IcecastMountTest, TlsToTheMountStreamsAndReconnectsAfterARestart) {
    const TestPki pki;
    IcecastServer icecast(options(pki.loopback_server().combined));
    ASSERT_NE(icecast.tls_port(), 0);
    TarnelRun run(icecast.tls_port());
    configure(run, "TLS=yes\nTLSCAFile=" + pki.ca_file() + "\nAutoReconnect=yes\n");
    run.start();
    listen_and_check(icecast, run, true);
    EXPECT_EQ(run.log().find("Error"), std::string::npos) << run.log();

    icecast.stop();
    ASSERT_TRUE(icecast.start());
    ASSERT_TRUE(run.wait_for_log("Connection Success", seconds(60), 2)) << run.log();
    listen_and_check(icecast, run, false);
    run.process().kill();
    // The stream broke once; a title update that met the server down may have failed too.
    const std::string log = run.log();
    EXPECT_EQ(count_of(log, "Error: "), 1u) << log;
}

}  // namespace
}  // namespace tarnel::test
