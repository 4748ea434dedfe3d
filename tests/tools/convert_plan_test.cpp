#include "tools/convert_plan.h"

#include <gtest/gtest.h>

namespace tarnel::test {
namespace {

TEST(ConvertPlanTest, ReadsWhatFfprobeSays) {
    const std::string json = R"({
        "programs": [],
        "streams": [
            {"index": 0, "codec_type": "video", "avg_frame_rate": "30000/1001", "nb_frames": "900"},
            {"index": 1, "codec_type": "audio", "avg_frame_rate": "0/0"},
            {"index": 2, "codec_type": "video", "avg_frame_rate": "25/1"}
        ],
        "format": {"duration": "30.030000"}
    })";
    const std::optional<ProbedInput> probed = parse_probe(json);
    ASSERT_TRUE(probed);
    EXPECT_TRUE(probed->has_video);
    EXPECT_TRUE(probed->has_audio);
    EXPECT_EQ(probed->video_frame_rate, "30000/1001");  // the first video stream's
    EXPECT_EQ(probed->video_frames, "900");
    EXPECT_EQ(probed->duration, "30.030000");

    const std::optional<ProbedInput> audio_only =
        parse_probe(R"({"streams": [{"codec_type": "audio"}], "format": {}})");
    ASSERT_TRUE(audio_only);
    EXPECT_FALSE(audio_only->has_video);
    EXPECT_EQ(audio_only->duration, "");

    EXPECT_FALSE(parse_probe(""));
    EXPECT_FALSE(parse_probe("not json"));
    EXPECT_FALSE(parse_probe("[1, 2]"));
}

TEST(ConvertPlanTest, KeepsTheFrameRatesNsvCanStateAndTakes30Otherwise) {
    const std::pair<std::string, std::string> cases[] = {
        {"30000/1001", "30000/1001"},
        {"24000/1001", "24000/1001"},
        {"60000/1001", "60000/1001"},
        {"25/1", "25"},
        {"1/1", "1"},
        {"127/1", "127"},
        {"128/1", "30"},
        {"0/0", "30"},
        {"0/1", "30"},
        {"50/2", "30"},
        {"", "30"},
        {"N/A", "30"},
        {"25", "30"},
        {"-25/1", "30"},
    };
    for (const auto& [probed, rate] : cases) {
        EXPECT_EQ(nsv_frame_rate_for(probed), rate) << probed;
    }
}

TEST(ConvertPlanTest, KeyFrameIntervalAndSilenceLength) {
    EXPECT_EQ(keyframe_interval("30", 2), 60);
    EXPECT_EQ(keyframe_interval("30000/1001", 2), 60);
    EXPECT_EQ(keyframe_interval("24000/1001", 0.5), 12);
    EXPECT_EQ(keyframe_interval("1", 0.1), 1);  // at least every frame

    ProbedInput input;
    input.duration = "12.5";
    EXPECT_EQ(silence_seconds(input, "30"), "12.5");
    input.duration = "N/A";
    input.video_frames = "90";
    EXPECT_EQ(silence_seconds(input, "30"), "3.000");
    EXPECT_EQ(silence_seconds(input, "30000/1001"), "3.003");
    input.video_frames = "";
    EXPECT_EQ(silence_seconds(input, "30"), "");
}

TEST(ConvertPlanTest, TheFfmpegCommands) {
    ConvertOptions options;
    options.input = "in put.mp4";
    options.video_bitrate = "900k";
    options.audio_bitrate = "96k";
    const std::vector<std::string> video = video_command(options, "25", "/tmp/x/video.ivf");
    const std::vector<std::string> expected_video = {"ffmpeg",
                                                     "-nostdin",
                                                     "-v",
                                                     "error",
                                                     "-y",
                                                     "-i",
                                                     "in put.mp4",
                                                     "-map",
                                                     "0:v:0",
                                                     "-an",
                                                     "-sn",
                                                     "-dn",
                                                     "-vf",
                                                     "scale=trunc(iw/2)*2:trunc(ih/2)*2",
                                                     "-pix_fmt",
                                                     "yuv420p",
                                                     "-r",
                                                     "25",
                                                     "-c:v",
                                                     "libvpx",
                                                     "-b:v",
                                                     "900k",
                                                     "-g",
                                                     "50",
                                                     "-auto-alt-ref",
                                                     "0",
                                                     "-deadline",
                                                     "good",
                                                     "-cpu-used",
                                                     "4",
                                                     "-f",
                                                     "ivf",
                                                     "/tmp/x/video.ivf"};
    EXPECT_EQ(video, expected_video);

    ProbedInput with_audio;
    with_audio.has_video = with_audio.has_audio = true;
    const std::vector<std::string> tail = {
        "-c:a",        "libmp3lame", "-ar",           "44100", "-ac", "2",   "-b:a", "96k",
        "-write_xing", "0",          "-map_metadata", "-1",    "-f",  "mp3", "a.mp3"};
    std::vector<std::string> expected = {"ffmpeg",     "-nostdin", "-v",    "error", "-y",  "-i",
                                         "in put.mp4", "-map",     "0:a:0", "-vn",   "-sn", "-dn"};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(audio_command(options, with_audio, "25", "a.mp3"), expected);

    ProbedInput silent;
    silent.has_video = true;
    silent.duration = "4.2";
    expected = {"ffmpeg", "-nostdin", "-v",
                "error",  "-y",       "-f",
                "lavfi",  "-i",       "anullsrc=r=44100:cl=stereo",
                "-t",     "4.2"};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(audio_command(options, silent, "25", "a.mp3"), expected);
}

TEST(ConvertPlanTest, TheTitleIsGivenOrTheFileName) {
    ConvertOptions options;
    const std::pair<std::string, std::string> cases[] = {
        {"holiday.mp4", "holiday"},
        {"/media/My Clip.final.mkv", "My Clip.final"},
        {"dir.d/noextension", "noextension"},
        {".hidden", ".hidden"},
    };
    for (const auto& [input, title] : cases) {
        options.input = input;
        EXPECT_EQ(title_for(options), title) << input;
    }
    options.title = "Given";
    EXPECT_EQ(title_for(options), "Given");
}

}  // namespace
}  // namespace tarnel::test
