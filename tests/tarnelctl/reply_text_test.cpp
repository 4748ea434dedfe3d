#include "tarnelctl/reply_text.h"

#include <gtest/gtest.h>

namespace tarnel::ctl {
namespace {

using Json = nlohmann::json;

Invocation invocation_of(Command command, const std::string& argument = "", size_t number = 0) {
    Invocation invocation;
    invocation.command = command;
    invocation.argument = argument;
    invocation.number = number;
    return invocation;
}

const char* const kStatus = R"({
  "version": "1.0.0", "pid": 4242, "state": "streaming", "server": "stream.example.org",
  "port": 8000, "mount": "/live", "connected_since": "2026-12-11T09:58:30Z",
  "entry": "media/news.nsv", "title": "News at ten", "second": 42, "bytes_sent": 451337216,
  "seconds_sent": 3600, "reconnections": 2, "last_error": "Could not write to socket.",
  "last_error_time": "2026-12-11T09:58:00Z", "updated": "2026-12-11T10:00:00Z",
  "next": {"entry": "spot.nsv", "queued": true},
  "queue": [{"entry": "spot.nsv"}, {"entry": "promo.nsv"}],
  "position": {"mode": "object", "clock_step": 2, "clock_steps": 5, "object": "music",
               "item": 4, "items": 12}})";

TEST(ReplyTextTest, StatusForPeople) {
    EXPECT_EQ(text_for_people(invocation_of(Command::kStatus), Json::parse(kStatus)),
              "State:           streaming\n"
              "Playing:         News at ten (media/news.nsv), second 42\n"
              "Next:            spot.nsv (queued)\n"
              "Queue:           2 entries\n"
              "Playlist:        clock step 2 of 5: music, item 4 of 12\n"
              "Server:          stream.example.org:8000, mount /live\n"
              "Connected since: 2026-12-11T09:58:30Z\n"
              "Sent:            3600 seconds, 451337216 bytes\n"
              "Reconnections:   2\n"
              "Last error:      Could not write to socket. (2026-12-11T09:58:00Z)\n");
}

TEST(ReplyTextTest, StatusOfAStationThatHasNotPlayedYet) {
    const Json starting = Json::parse(R"({"state": "connecting", "server": "127.0.0.1",
        "port": 8000, "mount": null, "connected_since": null, "entry": null, "title": null,
        "second": 0, "bytes_sent": 0, "seconds_sent": 0, "reconnections": 0, "last_error": null,
        "next": {"entry": "a.nsv", "queued": false}, "queue": [],
        "position": {"mode": "basic", "entry": 1, "entries": 3}})");
    EXPECT_EQ(text_for_people(invocation_of(Command::kStatus), starting),
              "State:           connecting\n"
              "Playing:         -\n"
              "Next:            a.nsv (from the playlist)\n"
              "Queue:           0 entries\n"
              "Playlist:        entry 1 of 3\n"
              "Server:          127.0.0.1:8000\n"
              "Connected since: -\n"
              "Sent:            0 seconds, 0 bytes\n"
              "Reconnections:   0\n");
    EXPECT_EQ(text_for_people(invocation_of(Command::kNext), Json::parse(R"({"next": null})")),
              "nothing\n");
}

TEST(ReplyTextTest, EveryOtherCommandForPeople) {
    const Json queue = Json::parse(R"({"queue": [{"entry": "a.nsv"}, {"entry": "b.nsv"}]})");
    const Json history = Json::parse(R"({"items": [
        {"start": "2026-12-11T10:00:00.123Z", "end": "2026-12-11T10:00:20.100Z",
         "entry": "a.nsv", "title": "A", "seconds": 20, "bytes": 2500000, "ended": "played",
         "queued": false},
        {"start": "2026-12-11T10:00:20.100Z", "end": "2026-12-11T10:00:20.100Z",
         "entry": "gone.nsv", "title": "", "seconds": 0, "bytes": 0,
         "ended": "could not be opened", "queued": true}]})");
    const struct {
        Invocation invocation;
        Json body;
        const char* text;
    } cases[] = {
        {invocation_of(Command::kNext), Json::parse(kStatus), "spot.nsv (queued)\n"},
        {invocation_of(Command::kQueueList), queue, "1. a.nsv\n2. b.nsv\n"},
        {invocation_of(Command::kQueueList), Json::parse(R"({"queue": []})"),
         "The queue is empty.\n"},
        {invocation_of(Command::kQueueAdd, "b.nsv"), queue,
         "Queued b.nsv; the queue holds 2 entries.\n"},
        {invocation_of(Command::kUnqueue, "", 2), Json::parse(R"({"queue": [{"entry": "a"}]})"),
         "Removed item 2; the queue holds 1 entry.\n"},
        {invocation_of(Command::kPlay, "a.nsv"), Json::parse(R"({"ok": true})"),
         "Playing a.nsv after the second in progress.\n"},
        {invocation_of(Command::kSkip), Json::parse(R"({"ok": true})"),
         "Skipping to the next file after the second in progress.\n"},
        {invocation_of(Command::kTitle, "Breaking"), Json::parse(R"({"ok": true})"),
         "Title sent: Breaking\n"},
        {invocation_of(Command::kReload, "playlist"),
         Json::parse(R"({"ok": true, "outcome": "Playlist list.plo loaded: 3 entries"})"),
         "Playlist list.plo loaded: 3 entries\n"},
        {invocation_of(Command::kHistory), history,
         "2026-12-11T10:00:00.123Z  20 s  played  A (a.nsv)\n"
         "2026-12-11T10:00:20.100Z  0 s  could not be opened  (gone.nsv), queued\n"},
        {invocation_of(Command::kHistory), Json::parse(R"({"items": []})"),
         "Nothing has gone on air yet.\n"},
    };
    for (const auto& one : cases) {
        EXPECT_EQ(text_for_people(one.invocation, one.body), one.text);
    }
}

TEST(ReplyTextTest, JsonForProgramsIsTheReplyOrOnlyWhatPlaysNext) {
    const Json status = Json::parse(kStatus);
    EXPECT_EQ(Json::parse(json_for_programs(invocation_of(Command::kStatus), status)), status);
    EXPECT_EQ(Json::parse(json_for_programs(invocation_of(Command::kNext), status)),
              Json::parse(R"({"next": {"entry": "spot.nsv", "queued": true}})"));
}

}  // namespace
}  // namespace tarnel::ctl
