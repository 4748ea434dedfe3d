#include "control/control_routes.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tarnel::test {
namespace {

using Json = nlohmann::ordered_json;

// A station that records what it was asked and answers as set up.
class FakeStation : public StationControl {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> entries{"a.nsv", "b.nsv"};
    ControlOutcome outcome;  // for every call that returns one

    Json status() override {
        calls.push_back("status");
        return Json{{"state", "streaming"}};
    }
    std::vector<std::string> queue() override { return entries; }
    void skip() override { calls.push_back("skip"); }
    ControlOutcome enqueue(const std::string& entry) override {
        calls.push_back("enqueue " + entry);
        if (outcome.refusal == Refusal::kNone) {
            entries.push_back(entry);
        }
        return outcome;
    }
    ControlOutcome unqueue(size_t number) override {
        calls.push_back("unqueue " + std::to_string(number));
        entries.erase(entries.begin() + static_cast<long>(number) - 1);
        return outcome;
    }
    ControlOutcome play(const std::string& entry) override {
        calls.push_back("play " + entry);
        return outcome;
    }
    ControlOutcome set_title(const std::string& title) override {
        calls.push_back("title " + title);
        return outcome;
    }
    ControlOutcome reload(ReloadTarget target) override {
        calls.push_back(target == ReloadTarget::kConfig ? "reload config" : "reload playlist");
        return outcome;
    }
    ControlOutcome history(size_t count, std::vector<Json>& records) override {
        calls.push_back("history " + std::to_string(count));
        records = {Json{{"entry", "a.nsv"}}, Json{{"entry", "b.nsv"}}};
        return outcome;
    }
};

ControlRequest request(const std::string& method, const std::string& target,
                       const std::string& body = "") {
    ControlRequest parsed;
    parsed.state = ControlRequest::State::kComplete;
    parsed.method = method;
    const size_t question = target.find('?');
    parsed.path = target.substr(0, question);
    parsed.query = question == std::string::npos ? "" : target.substr(question + 1);
    parsed.body = body;
    return parsed;
}

struct Route {
    const char* name;
    const char* method;
    const char* target;
    const char* body;
    int status;
    const char* reply;  // the whole body as JSON
    const char* call;   // what the station was asked, "" for nothing
};

const Route kRoutes[] = {
    {"Status", "GET", "/status", "", 200, R"({"state":"streaming"})", "status"},
    {"Skip", "POST", "/skip", "", 200, R"({"ok":true})", "skip"},
    {"SkipWithABody", "POST", "/skip", "{}", 200, R"({"ok":true})", "skip"},
    {"QueueList", "GET", "/queue", "", 200, R"({"queue":[{"entry":"a.nsv"},{"entry":"b.nsv"}]})",
     ""},
    {"QueueAdd", "POST", "/queue", R"({"entry":"c.nsv"})", 200,
     R"({"queue":[{"entry":"a.nsv"},{"entry":"b.nsv"},{"entry":"c.nsv"}]})", "enqueue c.nsv"},
    {"QueueAddNoJson", "POST", "/queue", "c.nsv", 400,
     R"({"error":"the body is not a JSON object"})", ""},
    {"QueueAddNoEntry", "POST", "/queue", R"({"file":"c.nsv"})", 400,
     R"({"error":"the body needs \"entry\": the path of an NSV file"})", ""},
    {"QueueAddEntryNotText", "POST", "/queue", R"({"entry":3})", 400,
     R"({"error":"the body needs \"entry\": the path of an NSV file"})", ""},
    {"Unqueue", "DELETE", "/queue/2", "", 200, R"({"queue":[{"entry":"a.nsv"}]})", "unqueue 2"},
    {"UnqueuePastTheEnd", "DELETE", "/queue/3", "", 404,
     R"j({"error":"there is no item 3 in the queue (it holds 2)"})j", ""},
    {"UnqueueZero", "DELETE", "/queue/0", "", 404,
     R"j({"error":"there is no item 0 in the queue (it holds 2)"})j", ""},
    {"UnqueueNotANumber", "DELETE", "/queue/x", "", 404,
     R"j({"error":"there is no item x in the queue (it holds 2)"})j", ""},
    {"UnqueueHuge", "DELETE", "/queue/99999999999999999999", "", 404,
     R"j({"error":"there is no item 99999999999999999999 in the queue (it holds 2)"})j", ""},
    {"Play", "POST", "/play", R"({"entry":"spot.nsv"})", 200, R"({"ok":true})", "play spot.nsv"},
    {"Title", "POST", "/title", R"({"title":"Breaking news"})", 200, R"({"ok":true})",
     "title Breaking news"},
    {"TitleMissing", "POST", "/title", "{}", 400,
     R"({"error":"the body needs \"title\": the text"})", ""},
    {"ReloadConfig", "POST", "/reload", R"({"what":"config"})", 200,
     R"({"ok":true,"outcome":"done"})", "reload config"},
    {"ReloadPlaylist", "POST", "/reload", R"({"what":"playlist"})", 200,
     R"({"ok":true,"outcome":"done"})", "reload playlist"},
    {"ReloadWhat", "POST", "/reload", R"({"what":"everything"})", 400,
     R"({"error":"\"what\" must be \"config\" or \"playlist\""})", ""},
    {"History", "GET", "/history", "", 200, R"({"items":[{"entry":"a.nsv"},{"entry":"b.nsv"}]})",
     "history 10"},
    {"HistoryOfFive", "GET", "/history?n=5", "", 200,
     R"({"items":[{"entry":"a.nsv"},{"entry":"b.nsv"}]})", "history 5"},
    {"HistoryAmongOtherParameters", "GET", "/history?all=1&n=1000", "", 200,
     R"({"items":[{"entry":"a.nsv"},{"entry":"b.nsv"}]})", "history 1000"},
    {"HistoryTooMany", "GET", "/history?n=1001", "", 400,
     R"({"error":"n must be a whole number from 1 to 1000"})", ""},
    {"HistoryNone", "GET", "/history?n=0", "", 400,
     R"({"error":"n must be a whole number from 1 to 1000"})", ""},
    {"HistoryNotANumber", "GET", "/history?n=-3", "", 400,
     R"({"error":"n must be a whole number from 1 to 1000"})", ""},
    {"UnknownPath", "GET", "/metrics", "", 404, R"({"error":"no such request: GET /metrics"})", ""},
    {"StatusByPost", "POST", "/status", "", 405, R"({"error":"/status takes GET"})", ""},
    {"QueueByPut", "PUT", "/queue", "", 405, R"({"error":"/queue takes GET, POST"})", ""},
    {"QueueItemByGet", "GET", "/queue/1", "", 405, R"({"error":"/queue/1 takes DELETE"})", ""},
};

class ControlRouteTest : public ::testing::TestWithParam<Route> {};

TEST_P(ControlRouteTest, AnswersAndAsksTheStation) {
    const Route& route = GetParam();
    FakeStation station;
    station.outcome.message = "done";
    const ControlReply reply =
        answer_control_request(request(route.method, route.target, route.body), station);
    EXPECT_EQ(reply.status, route.status);
    EXPECT_EQ(reply.body, Json::parse(route.reply)) << reply.body.dump();
    EXPECT_EQ(station.calls, std::string(route.call).empty()
                                 ? std::vector<std::string>{}
                                 : std::vector<std::string>{route.call});
    EXPECT_EQ(reply.allow.empty(), route.status != 405);
}

INSTANTIATE_TEST_SUITE_P(Routes, ControlRouteTest, ::testing::ValuesIn(kRoutes),
                         [](const ::testing::TestParamInfo<Route>& param_info) {
                             return std::string(param_info.param.name);
                         });

struct RefusalCase {
    Refusal refusal;
    int status;
};

TEST(ControlRouteRefusalTest, EachRefusalHasItsStatusAndMessage) {
    const RefusalCase cases[] = {{Refusal::kBadEntry, 400},
                                 {Refusal::kNoSuchItem, 404},
                                 {Refusal::kQueueFull, 409},
                                 {Refusal::kNothingPlays, 409},
                                 {Refusal::kFailed, 500}};
    for (const RefusalCase& refusal : cases) {
        FakeStation station;
        station.outcome = {refusal.refusal, "why not"};
        const ControlReply reply =
            answer_control_request(request("POST", "/queue", R"({"entry":"x.nsv"})"), station);
        EXPECT_EQ(reply.status, refusal.status);
        EXPECT_EQ(reply.body, Json::parse(R"({"error":"why not"})"));
        EXPECT_EQ(station.entries.size(), 2u);
    }
}

TEST(ControlRouteRefusalTest, AFailedReloadCarriesItsOutcome) {
    FakeStation station;
    station.outcome = {Refusal::kFailed, "the playlist (x.plo) could not be loaded"};
    const ControlReply reply =
        answer_control_request(request("POST", "/reload", R"({"what":"playlist"})"), station);
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, Json::parse(R"({"error":"the playlist (x.plo) could not be loaded",
                                          "outcome":"the playlist (x.plo) could not be loaded"})"));
}

}  // namespace
}  // namespace tarnel::test
