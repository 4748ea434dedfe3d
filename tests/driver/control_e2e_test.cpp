// The real program with a control socket (ControlSocket=) and an as-run log (AsRunLog=),
// streaming to the loopback server: what the requests do to the bytes the server receives, and
// what hostile clients do not do to them.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "support/console_capture.h"
#include "support/control_client.h"
#include "support/loopback_server.h"
#include "support/nsv_expected.h"
#include "support/nsv_writer.h"
#include "support/tarnel_run.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Json = nlohmann::json;

// What the program sends for the files in order, each file whole, no subtitles.
std::string expected_wire(const std::vector<const NsvWriter*>& files) {
    NsvProcessState state;
    std::string wire;
    for (const NsvWriter* file : files) {
        wire += expected_stream(file->bytes(), {}, state).wire();
    }
    return wire;
}

// A clip of count frames at 30 frames a second, a sync frame each second, with a title.
NsvWriter clip(int frames, const std::string& title = "", int video_length = 200) {
    NsvWriter writer;
    if (!title.empty()) {
        writer.file_header("TITLE='" + title + "'");
    }
    writer.frames(frames, 0x1E, video_length, 40, 30);
    return writer;
}

// A run whose configuration opens the control socket control.sock in its directory.
class ControlRun {
  public:
    explicit ControlRun(const LoopbackServer& server) : run(server) {}

    void start(const std::string& playlist, const std::string& extra_lines = "") {
        run.configure("ControlSocket=control.sock\n" + extra_lines);
        run.playlist(playlist);
        run.start();
        ASSERT_TRUE(wait_until([&] { return request("GET", "/status").status == 200; }, 10000))
            << run.log();
    }
    std::string socket() const { return run.dir().file("control.sock"); }
    ControlAnswer request(const std::string& method, const std::string& target,
                          const std::string& body = "") const {
        return control_request(socket(), method, target, body);
    }
    std::string file(const std::string& name) const { return run.dir().file(name); }

    TarnelRun run;
};

// Waits until the server got at least bytes stream bytes on the first connection.
bool wait_for_stream(const LoopbackServer& server, size_t bytes, int timeout_ms = 15000) {
    return wait_until([&] { return server.stream_bytes(0).size() >= bytes; }, timeout_ms);
}

TEST(ControlEndToEndTest, AQueuedEntryFollowsTheCurrentOneThenThePlaylistGoesOn) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter a = clip(90, "Clip A");
    const NsvWriter b = clip(45, "", 150);
    const NsvWriter q = clip(45, "Queued", 170);
    a.write(control.file("a.nsv"));
    b.write(control.file("b.nsv"));
    q.write(control.file("q.nsv"));
    control.start("#Mode=basic\na.nsv\nb.nsv\n");
    ASSERT_TRUE(wait_for_stream(server, 1));

    const ControlAnswer queued = control.request("POST", "/queue", R"({"entry":"q.nsv"})");
    EXPECT_EQ(queued.status, 200) << queued.raw;
    EXPECT_EQ(queued.body, Json::parse(R"({"queue":[{"entry":"q.nsv"}]})"));
    const ControlAnswer status = control.request("GET", "/status");
    EXPECT_EQ(status.body["entry"], "a.nsv");
    EXPECT_EQ(status.body["title"], "Clip A");
    EXPECT_EQ(status.body["next"], Json::parse(R"({"entry":"q.nsv","queued":true})"));
    EXPECT_EQ(status.body["position"], Json::parse(R"({"mode":"basic","entry":1,"entries":2})"));

    const std::string wire = expected_wire({&a, &q, &b, &a});
    ASSERT_TRUE(wait_for_stream(server, wire.size())) << control.run.log();
    control.run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    const std::string log = control.run.log();
    // The title update of a runs beside the stream: its line may come before or after the
    // request's.
    EXPECT_NE(log.find("Control request: queued q.nsv (1 in the queue)\n"), std::string::npos);
    EXPECT_NE(log.find("Playing q.nsv from the queue\n"
                       "Opened q.nsv successfully!\n"
                       "file has headers, they were skipped\n"
                       "Title Updated (Queued)\n"
                       "Playlist Pos Changed to: 2\n"
                       "Opened b.nsv successfully!\n"),
              std::string::npos)
        << log;
    ASSERT_TRUE(server.wait_for_admin_requests(3, seconds(5)));
    EXPECT_NE(server.admin_requests()[1].find("&song=Queued&"), std::string::npos);
}

TEST(ControlEndToEndTest, PlayCutsOverAtASecondBoundaryAndTheLogSaysSo) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter longer = clip(300, "Long");
    const NsvWriter played = clip(45, "Played", 170);
    const NsvWriter next = clip(20, "", 150);
    longer.write(control.file("long.nsv"));
    played.write(control.file("played.nsv"));
    next.write(control.file("next.nsv"));
    control.start("#Mode=basic\nlong.nsv\nnext.nsv\n", "AsRunLog=as-run.jsonl\n");
    ASSERT_TRUE(wait_for_stream(server, 15000));

    const ControlAnswer answer = control.request("POST", "/play", R"({"entry":"played.nsv"})");
    EXPECT_EQ(answer.status, 200) << answer.raw;
    EXPECT_EQ(answer.body, Json::parse(R"({"ok":true})"));
    // The long file opens again once the next file's bytes went out.
    ASSERT_TRUE(control.run.wait_for_log("Opened long.nsv", seconds(10), 2)) << control.run.log();
    control.run.process().kill();

    // Some second k of the long file carries the end marker; the played file and then the
    // playlist's next entry follow it.
    const std::string stream = server.stream_bytes(0);
    size_t cut = 0;
    for (size_t k = 0; k < 10 && cut == 0; ++k) {
        NsvProcessState state;
        std::vector<SecondOffer> offers(k + 1);
        offers[k].next_track = true;
        const std::string wire = expected_stream(longer.bytes(), offers, state).wire() +
                                 expected_stream(played.bytes(), {}, state).wire() +
                                 expected_stream(next.bytes(), {}, state).wire();
        if (stream.compare(0, wire.size(), wire) == 0) {
            cut = k + 1;
        }
    }
    ASSERT_NE(cut, 0u) << "the stream is not long, cut at a second, then played, then next";
    EXPECT_NE(control.run.log().find("Control request: play played.nsv now\n"), std::string::npos);

    const std::string as_run = read_file(control.file("as-run.jsonl"));
    std::vector<Json> lines;
    for (size_t at = 0, end; (end = as_run.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(Json::parse(as_run.substr(at, end - at)));
    }
    ASSERT_GE(lines.size(), 2u) << as_run;
    EXPECT_EQ(lines[0]["entry"], "long.nsv");
    EXPECT_EQ(lines[0]["ended"], "skipped by request");
    EXPECT_EQ(lines[0]["seconds"], cut);
    EXPECT_EQ(lines[0]["queued"], false);
    EXPECT_EQ(lines[1]["entry"], "played.nsv");
    EXPECT_EQ(lines[1]["title"], "Played");
    EXPECT_EQ(lines[1]["ended"], "played");
    EXPECT_EQ(lines[1]["queued"], true);
}

TEST(ControlEndToEndTest, ATitleReachesTheAdminPageAndTheNextFileHasItsOwn) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter a = clip(120, "Clip A");
    // Longer than a second, so that the next title update (a's again) comes a second later and
    // the server's threads record the two in order.
    const NsvWriter b = clip(45, "Clip B", 150);
    a.write(control.file("a.nsv"));
    b.write(control.file("b.nsv"));
    control.start("#Mode=basic\na.nsv\nb.nsv\n");
    ASSERT_TRUE(server.wait_for_admin_requests(1, seconds(10)));

    const ControlAnswer answer = control.request("POST", "/title", R"({"title":"Breaking news"})");
    EXPECT_EQ(answer.status, 200) << answer.raw;
    ASSERT_TRUE(server.wait_for_admin_requests(2, seconds(5)));
    EXPECT_EQ(
        server.admin_requests()[1].rfind(
            "GET /admin.cgi?pass=swapthis&mode=updinfo&song=Breaking%20news&url= HTTP/1.0", 0),
        0u)
        << server.admin_requests()[1];
    EXPECT_TRUE(wait_until(
        [&] { return control.request("GET", "/status").body["title"] == "Breaking news"; }, 3000));
    ASSERT_TRUE(server.wait_for_admin_requests(3, seconds(10)));
    EXPECT_NE(server.admin_requests()[2].find("&song=Clip%20B&"), std::string::npos);
    // The title is sent between seconds: the stream is the two files, whole.
    const std::string wire = expected_wire({&a, &b});
    ASSERT_TRUE(wait_for_stream(server, wire.size())) << control.run.log();
    control.run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
}

TEST(ControlEndToEndTest, HistoryAndTheAsRunLogMatchWhatTheServerGot) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter a = clip(45, "Clip A");
    const NsvWriter b = clip(30, "", 150);
    a.write(control.file("a.nsv"));
    b.write(control.file("b.nsv"));
    control.start("#Mode=basic\na.nsv\nmissing.nsv\nb.nsv\n", "AsRunLog=as-run.jsonl\n");
    ASSERT_TRUE(control.run.wait_for_log("Opened a.nsv successfully!", seconds(15), 2))
        << control.run.log();
    control.run.process().kill();

    const ControlAnswer none = control.request("GET", "/history");
    EXPECT_EQ(none.status, 0);  // the station is gone; its log stays
    const std::string as_run = read_file(control.file("as-run.jsonl"));
    std::vector<Json> lines;
    for (size_t at = 0, end; (end = as_run.find('\n', at)) != std::string::npos; at = end + 1) {
        lines.push_back(Json::parse(as_run.substr(at, end - at)));
    }
    ASSERT_GE(lines.size(), 3u) << as_run;
    const std::string wire = expected_wire({&a, &b});
    // UTC with milliseconds: "2026-12-11T10:00:00.123Z".
    const std::string utc = "9999-99-99T99:99:99.999Z";
    const struct {
        const char* entry;
        const char* title;
        size_t seconds;
        size_t bytes;
        const char* ended;
    } expected[] = {
        {"a.nsv", "Clip A", 2, expected_wire({&a}).size(), "played"},
        {"missing.nsv", "", 0, 0, "could not be opened"},
        {"b.nsv", "b.nsv", 1, wire.size() - expected_wire({&a}).size(), "played"},
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i]["entry"], expected[i].entry);
        EXPECT_EQ(lines[i]["title"], expected[i].title);
        EXPECT_EQ(lines[i]["seconds"], expected[i].seconds);
        EXPECT_EQ(lines[i]["bytes"], expected[i].bytes);
        EXPECT_EQ(lines[i]["ended"], expected[i].ended);
        EXPECT_EQ(lines[i]["queued"], false);
        const std::string start = lines[i]["start"].get<std::string>();
        EXPECT_TRUE(start.size() == utc.size() && fits_pattern(start, 0, utc)) << lines[i];
        EXPECT_GE(lines[i]["end"].get<std::string>(), lines[i]["start"].get<std::string>());
    }
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
}

TEST(ControlEndToEndTest, HistoryAnswersFromTheLogOrFromMemory) {
    for (const bool with_log : {true, false}) {
        LoopbackServer server;
        ControlRun control(server);
        clip(30, "Short").write(control.file("a.nsv"));
        control.start("#Mode=basic\na.nsv\n", with_log ? "AsRunLog=as-run.jsonl\n" : "");
        ASSERT_TRUE(control.run.wait_for_log("Opened a.nsv successfully!", seconds(15), 4));
        const ControlAnswer history = control.request("GET", "/history?n=3");
        control.run.process().kill();
        ASSERT_EQ(history.status, 200) << history.raw;
        ASSERT_EQ(history.body["items"].size(), 3u) << history.raw;
        for (const Json& item : history.body["items"]) {
            EXPECT_EQ(item["title"], "Short");
            EXPECT_EQ(item["ended"], "played");
        }
        EXPECT_LT(history.body["items"][1]["start"], history.body["items"][2]["start"]);
        EXPECT_EQ(file_exists(control.file("as-run.jsonl")), with_log);
    }
}

TEST(ControlEndToEndTest, InObjectModeAQueuedItemDoesNotMoveTheClock) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter a1 = clip(60, "A1");
    const NsvWriter a2 = clip(20, "A2", 150);
    const NsvWriter b1 = clip(20, "B1", 160);
    const NsvWriter q = clip(20, "Q", 170);
    a1.write(control.file("a1.nsv"));
    a2.write(control.file("a2.nsv"));
    b1.write(control.file("b1.nsv"));
    q.write(control.file("q.nsv"));
    control.start(
        "#Mode=object\n#define a\n#define b\n#list a\na1.nsv\na2.nsv\n#\n#list b\nb1.nsv\n#\n"
        "#clock:\na\nb\n#\n");
    ASSERT_TRUE(wait_for_stream(server, 1));
    ASSERT_EQ(control.request("POST", "/queue", R"({"entry":"q.nsv"})").status, 200);
    const std::string wire = expected_wire({&a1, &q, &b1, &a2});
    ASSERT_TRUE(wait_for_stream(server, wire.size())) << control.run.log();
    control.run.process().kill();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    EXPECT_NE(control.run.log().find("Playing q.nsv from the queue\nOpened q.nsv successfully!\n"
                                     "file has headers, they were skipped\nTitle Updated (Q)\n"
                                     "Playlist Pos Changed to: 1, clock list pos 2 (b)\n"),
              std::string::npos)
        << control.run.log();
}

TEST(ControlEndToEndTest, BadEntriesAreRefusedWithTheirReasonAndChangeNothing) {
    LoopbackServer server;
    ControlRun control(server);
    clip(600).write(control.file("a.nsv"));
    control.run.dir().write("notes.txt", "not a video");
    ASSERT_EQ(mkfifo(control.file("fifo.nsv").c_str(), 0644), 0);
    control.start("#Mode=basic\na.nsv\n");
    const std::pair<const char*, const char*> cases[] = {
        {"missing.nsv", "missing.nsv cannot be opened: No such file or directory"},
        {"fifo.nsv", "fifo.nsv is not a regular file"},
        {"notes.txt", "notes.txt is not an NSV file: it does not start with NSVf or NSVs"},
    };
    for (const auto& [entry, reason] : cases) {
        for (const char* target : {"/queue", "/play"}) {
            const ControlAnswer answer =
                control.request("POST", target, Json{{"entry", entry}}.dump());
            EXPECT_EQ(answer.status, 400) << answer.raw;
            EXPECT_EQ(answer.body["error"], reason);
        }
    }
    EXPECT_EQ(control.request("DELETE", "/queue/1").status, 404);
    EXPECT_EQ(control.request("GET", "/queue").body, Json::parse(R"({"queue":[]})"));
    EXPECT_TRUE(control.run.process().running());
    control.run.process().kill();
    EXPECT_EQ(control.run.log().find("Control request:"), std::string::npos);
}

// How late after the wall clock's tick each full second's first byte arrived, from the second
// second on (the first goes out when the file opens). The clip's seconds are all full.
std::vector<double> tick_offsets(const LoopbackServer& server, const NsvWriter& file,
                                 size_t seconds_count) {
    NsvProcessState state;
    const ExpectedFile expected = expected_stream(file.bytes(), {}, state);
    const size_t head = server.bytes(0).size() - server.stream_bytes(0).size();
    std::vector<double> offsets;
    size_t offset = head;
    for (size_t k = 0; k < seconds_count && k < expected.seconds.size(); ++k) {
        const auto arrival = arrival_of(server, 0, offset);
        if (k > 0) {
            const auto wall = std::chrono::system_clock::now().time_since_epoch() -
                              (LoopbackServer::Clock::now() - arrival);
            const double since_tick =
                std::chrono::duration<double>(wall).count() -
                static_cast<double>(std::chrono::duration_cast<seconds>(wall).count());
            offsets.push_back(since_tick);
        }
        offset += expected.seconds[k].wire.size();
    }
    return offsets;
}

TEST(ControlEndToEndTest, HostileClientsCostTheStreamNothing) {
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter long_clip = clip(360, "Steady", 1000);  // twelve seconds
    long_clip.write(control.file("clip.nsv"));
    control.start("#Mode=basic\nclip.nsv\n");
    ASSERT_TRUE(wait_for_stream(server, 1));

    // A 10 MB request: refused once its head is read, the rest never read.
    {
        const Descriptor connection = connect_unix(control.socket());
        const std::string request = "POST /title HTTP/1.1\r\nContent-Length: 10485760\r\n\r\n" +
                                    std::string(10 * 1024 * 1024, 'x');
        EXPECT_EQ(answer_of(send_and_read(connection, request)).status, 413);
    }
    // Garbage.
    for (int i = 0; i < 20; ++i) {
        const Descriptor connection = connect_unix(control.socket());
        EXPECT_EQ(answer_of(send_and_read(connection, "\x16\x03\x01 garbage\r\n\r\n")).status, 400);
    }
    // Clients that connect and never send, and 1,000 connections at once beside them.
    std::vector<Descriptor> held;
    for (int i = 0; i < 20; ++i) {
        held.push_back(connect_unix(control.socket(), true));
    }
    std::vector<Descriptor> flood;
    for (int i = 0; i < 1000; ++i) {
        flood.push_back(connect_unix(control.socket(), true));
    }
    std::this_thread::sleep_for(seconds(2));
    flood.clear();
    // The silent ones are told 408 and closed after their time.
    for (const Descriptor& connection : held) {
        if (connection.get() != -1) {
            const int status = answer_of(send_and_read(connection, "", milliseconds(10000))).status;
            EXPECT_TRUE(status == 408 || status == 503) << status;
        }
    }
    EXPECT_TRUE(wait_until([&] { return control.request("GET", "/status").status == 200; }, 15000));

    NsvProcessState state;
    const std::string wire = expected_stream(long_clip.bytes(), {}, state).wire();
    ASSERT_TRUE(wait_for_stream(server, wire.size(), 20000)) << control.run.log();
    EXPECT_EQ(server.stream_bytes(0).substr(0, wire.size()), wire);
    // Every second went out right after its tick, as without clients (generous for loaded and
    // sanitized runs).
    const std::vector<double> offsets = tick_offsets(server, long_clip, 12);
    ASSERT_EQ(offsets.size(), 11u);
    for (const double offset : offsets) {
        EXPECT_LT(offset, 0.5);
    }
    control.run.process().kill();
}

// Processor time (user and system) of a running process, in seconds.
double processor_seconds(pid_t pid) {
    std::istringstream stat(read_file("/proc/" + std::to_string(pid) + "/stat"));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i == 14 || i == 15) {  // utime, stime (after the name, which has no space here)
            ticks += std::stod(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST(ControlEndToEndTest, WithoutDescriptorsForNewClientsTheStationNeitherSpinsNorStops) {
#if defined(__SANITIZE_ADDRESS__)
    // UndefinedBehaviorSanitizer's vptr check probes memory through a pipe of its own; with every
    // descriptor taken it reports sound objects as broken and stops the station.
    GTEST_SKIP() << "not run under the sanitizers: they need descriptors this test takes away";
#endif
    LoopbackServer server;
    ControlRun control(server);
    const NsvWriter long_clip = clip(600, "Long");
    long_clip.write(control.file("a.nsv"));
    control.run.configure("ControlSocket=control.sock\n");
    control.run.playlist("#Mode=basic\na.nsv\n");
    control.run.start({"prlimit", "--nofile=12"});
    ASSERT_TRUE(wait_for_stream(server, 1)) << control.run.console();
    std::vector<Descriptor> flood;
    for (int i = 0; i < 40; ++i) {
        flood.push_back(connect_unix(control.socket(), true));
    }
    const double before = processor_seconds(control.run.process().pid());
    std::this_thread::sleep_for(seconds(3));
    const double used = processor_seconds(control.run.process().pid()) - before;
    EXPECT_LT(used, 1.0) << "the waits spin on a listener that cannot accept";
    flood.clear();
    EXPECT_TRUE(wait_until([&] { return control.request("GET", "/status").status == 200; }, 15000))
        << control.run.console();
    NsvProcessState state;
    const std::string wire = expected_stream(long_clip.bytes(), {}, state).wire();
    EXPECT_TRUE(wait_for_stream(server, wire.size() / 2))  // the stream goes on: ten seconds
        << control.run.console();
    const std::string got = server.stream_bytes(0);
    const size_t compared = std::min(got.size(), wire.size());
    EXPECT_TRUE(got.compare(0, compared, wire, 0, compared) == 0);
    control.run.process().kill();
}

TEST(ControlEndToEndTest, TheSocketFileIsPrivateReplacesAStaleOneAndRefusesALiveOne) {
    LoopbackServer server;
    ControlRun first(server);
    clip(600).write(first.file("a.nsv"));
    {
        // A socket file left by a station that was killed.
        const Descriptor stale(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, first.socket().c_str());
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  0);
    }
    first.start("#Mode=basic\na.nsv\n");
    struct stat file {};
    ASSERT_EQ(lstat(first.socket().c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0660u);
    EXPECT_NE(first.run.log().find("Listening for control requests on control.sock\n"),
              std::string::npos);

    TarnelRun second(server);
    second.configure("ControlSocket=" + first.socket() + "\n");
    second.playlist("#Mode=basic\na.nsv\n");
    second.start();
    EXPECT_EQ(second.process().wait(10000), 1);
    EXPECT_NE(second.log().find("FATAL ERROR: Control socket (" + first.socket() +
                                ") could not be opened: another running station answers on it; "
                                "exiting\n"),
              std::string::npos)
        << second.log();
    EXPECT_EQ(first.request("GET", "/status").status, 200);

    // An orderly end (here: the playlist is gone at a reload) removes the socket file.
    std::remove(first.file("list.plo").c_str());
    first.run.process().signal(SIGUSR1);
    EXPECT_TRUE(wait_until([&] { return !first.run.process().running(); }, 10000));
    EXPECT_FALSE(file_exists(first.socket()));
}

TEST(ControlEndToEndTest, AReloadByRequestReportsItsOutcomeAndABadPlaylistDoesNotEndTheRun) {
    LoopbackServer server;
    ControlRun control(server);
    clip(600).write(control.file("a.nsv"));
    control.start("#Mode=basic\na.nsv\n");
    ASSERT_TRUE(wait_for_stream(server, 1));
    const ControlAnswer config = control.request("POST", "/reload", R"({"what":"config"})");
    EXPECT_EQ(config.status, 200);
    EXPECT_EQ(config.body, Json::parse(R"({"ok":true,
        "outcome":"Configuration file loaded from 'tarnel.conf'"})"));

    control.run.playlist("no mode line\n");
    const ControlAnswer playlist = control.request("POST", "/reload", R"({"what":"playlist"})");
    EXPECT_EQ(playlist.status, 500);
    EXPECT_EQ(playlist.body["outcome"],
              "the playlist (list.plo) could not be loaded; the one loaded before stays in force");
    control.run.playlist("#Mode=basic\na.nsv\na.nsv\n");
    EXPECT_EQ(control.request("POST", "/reload", R"({"what":"playlist"})").body["outcome"],
              "Playlist list.plo loaded: 2 entries");
    EXPECT_TRUE(control.run.process().running());
    const size_t before = server.stream_bytes(0).size();
    EXPECT_TRUE(wait_for_stream(server, before + 1, 5000));
    control.run.process().kill();
}

}  // namespace
}  // namespace tarnel::test
