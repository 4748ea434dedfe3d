// Tarnel against a real Icecast 2, with a listener on the mount and ffmpeg decoding what the
// listener received.

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "support/icecast_server.h"
#include "support/media.h"
#include "support/nsv_expected.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr int kClipSeconds = 3;
constexpr int kRounds = 4;  // the playlist played this often gives more bytes than the capture

SecondOffer title_offer(const std::string& text) {
    SecondOffer offer;
    offer.subtitle = text;
    offer.style.display_time = 5 * 30;
    offer.style.red = offer.style.green = offer.style.blue = 255;
    return offer;
}

TEST(IcecastEndToEndTest, ListenersReceiveTheWholeStreamAndItDecodesFrameForFrame) {
    if (!IcecastServer::available() || !have_ffmpeg()) {
        GTEST_SKIP() << "icecast2 or ffmpeg is not installed";
    }
    TempDir media;
    std::string diagnostics;
    const std::string one =
        make_clip(media.path(), "one", "Artist - First Clip", kClipSeconds, diagnostics);
    ASSERT_FALSE(one.empty()) << diagnostics;
    const std::string two =
        make_clip(media.path(), "two", "Second Clip", kClipSeconds, diagnostics);
    ASSERT_FALSE(two.empty()) << diagnostics;

    IcecastServer icecast;
    TarnelRun run(icecast.port());
    run.configure("Password=" + icecast.options().source_password +
                  "\nSubtitleMode=tag\nStreamName=Tarnel Test\nGenre=Testing\nBitrate=123\n");
    run.playlist("#Mode=basic\n" + one + "\n" + two + "\n");
    run.start();

    // A listener that joins in the first second gets the burst: everything sent so far.
    ASSERT_TRUE(wait_until(
        [&] {
            return icecast.http_get("/status-json.xsl").find("Tarnel Test") != std::string::npos;
        },
        10000))
        << run.log() << icecast.error_log();
    StreamCapture capture(icecast.port(), icecast.options().mount);
    ASSERT_TRUE(capture.connected());

    std::set<std::string> titles;
    std::string status;
    for (int i = 0; i < 40 && titles.size() < 2; ++i) {
        status = icecast.http_get("/status-json.xsl");
        // Before the first title arrives the status page has none: that is no title to count.
        if (const std::string title = source_title(status); !title.empty()) {
            titles.insert(title);
        }
        std::this_thread::sleep_for(milliseconds(250));
    }
    std::this_thread::sleep_for(seconds(1));
    capture.stop();
    run.process().kill();

    EXPECT_NE(status.find("\"server_name\":\"Tarnel Test\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"genre\":\"Testing\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"bitrate\":123"), std::string::npos) << status;
    EXPECT_TRUE(titles.count("Artist - First Clip")) << status;
    EXPECT_TRUE(titles.count("Second Clip")) << status;

    // The capture is the stream Tarnel sent, from its very first byte (a sync frame).
    const std::string received = capture.body();
    NsvProcessState state;
    std::string sent;
    for (int round = 0; round < kRounds; ++round) {
        sent += expected_stream(read_file(one), {title_offer("Artist\nFirst Clip")}, state).wire();
        sent += expected_stream(read_file(two), {title_offer("Second Clip")}, state).wire();
    }
    ASSERT_GT(received.size(), read_file(one).size());
    ASSERT_LT(received.size(), sent.size());
    EXPECT_EQ(received.substr(0, 4), "NSVs");
    EXPECT_TRUE(sent.compare(0, received.size(), received) == 0);

    // ffmpeg decodes the capture frame for frame like the original files (the capture may end
    // inside a frame, so its last decoded frame is left out).
    const std::string captured = media.write("captured.nsv", received);
    const std::vector<std::string> got = video_frame_md5s(captured);
    std::vector<std::string> original;
    for (int round = 0; round < kRounds; ++round) {
        for (const std::string& clip : {one, two}) {
            const auto hashes = video_frame_md5s(clip);
            original.insert(original.end(), hashes.begin(), hashes.end());
        }
    }
    ASSERT_GT(got.size(), static_cast<size_t>(kClipSeconds * 30));
    for (size_t i = 0; i + 1 < got.size(); ++i) {
        ASSERT_EQ(got[i], original[i]) << "video frame " << i;
    }

    const std::string log = run.log();
    EXPECT_NE(log.find("Connection Success\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Title Updated (Artist - First Clip)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Title Updated (Second Clip)\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Error"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarnel::test
