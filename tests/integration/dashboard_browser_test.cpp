// Headless Chromium, driven by Selenium through chromium-driver, opens tarnel-web's page while
// two real stations stream to a private Icecast: it finds both, clicks Skip on one and sees the
// new title on the page, and Icecast's status page shows the same title. Once at a desktop's
// width and once at a phone's; the screenshots stay in the build folder (artifacts/).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "support/streaming_stations.h"
#include "support/tarnel_web_run.h"

namespace tarnel::test {
namespace {

const char* const kDriverScript = TARNEL_SOURCE_DIR "/tests/integration/dashboard_browser.py";

// Clips long enough that a title changes within a browser run only by the click (the script
// waits out a clip that is about to end before it clicks).
constexpr int kClipSeconds = 40;

bool browser_available() {
    const TempDir dir;
    return access("/usr/bin/chromium", X_OK) == 0 && access("/usr/bin/chromedriver", X_OK) == 0 &&
           run_program("/usr/bin/python3", {"-c", "import selenium"}, dir.path(),
                       dir.file("out.txt")) == 0;
}

// Runs the page in Chromium at width pixels, skipping on station; the script's JSON answer.
nlohmann::json click_skip(const TarnelWebRun& web, const std::string& station, int width,
                          const std::string& screenshot, std::string& output) {
    const TempDir dir;
    std::vector<std::string> args = {kDriverScript,
                                     web.url() + "/",
                                     screenshot,
                                     std::to_string(width),
                                     std::to_string(kClipSeconds),
                                     station};
    for (const std::string& name : StreamingStations::names()) {
        if (name != station) {
            args.push_back(name);
        }
    }
    run_program("/usr/bin/python3", args, dir.path(), dir.file("out.txt"), 180000);
    output = read_file(dir.file("out.txt"));
    const size_t line = output.rfind("\n{");
    return nlohmann::json::parse(line == std::string::npos ? output : output.substr(line + 1),
                                 nullptr, false);
}

TEST(DashboardBrowserTest, ChromiumFindsBothStationsAndSkipsOneAndIcecastShowsTheNewTitle) {
    if (!IcecastServer::available() || !browser_available()) {
        GTEST_SKIP() << "icecast2, chromium, chromium-driver or python3-selenium is not installed "
                        "(scripts/install-deps)";
    }
    StreamingStations stations(kClipSeconds, kClipSeconds);
    std::string diagnostics;
    if (!stations.start(diagnostics)) {
        GTEST_SKIP() << "the clips cannot be made (ffmpeg): " << diagnostics;
    }
    ASSERT_TRUE(stations.wait_until_streaming(20000)) << stations.logs();
    TarnelWebRun web(stations.run_dir());
    ASSERT_TRUE(web.ready()) << web.output();

    const std::string artifacts = std::string(TARNEL_ARTIFACT_DIR);
    mkdir(artifacts.c_str(), 0755);
    const struct {
        const char* station;
        int width;
        const char* screenshot;
    } runs[] = {{"one", 1280, "/dashboard.png"}, {"two", 390, "/dashboard-phone.png"}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.screenshot);
        std::string output;
        const nlohmann::json result =
            click_skip(web, run.station, run.width, artifacts + run.screenshot, output);
        ASSERT_TRUE(result.is_object()) << output << web.output();
        ASSERT_FALSE(result.contains("error")) << output;
        EXPECT_EQ(result["found"].size(), 2u) << output;
        // The skip moves on to the station's other clip, whichever was playing.
        const std::string first = std::string(run.station) + " first";
        const std::string second = std::string(run.station) + " second";
        const std::string before = result.value("before", "");
        const std::string after = result.value("after", "");
        EXPECT_TRUE(before == first || before == second) << output;
        EXPECT_EQ(after, before == first ? second : first) << output;
        EXPECT_TRUE(file_exists(artifacts + run.screenshot));

        const std::string mount = stations.mount_of(run.station);
        std::string status;
        EXPECT_TRUE(wait_until(
            [&] {
                status = stations.icecast().http_get("/status-json.xsl");
                return mount_title(status, mount) == after;
            },
            20000))
            << status << stations.logs();
    }
}

}  // namespace
}  // namespace tarnel::test
