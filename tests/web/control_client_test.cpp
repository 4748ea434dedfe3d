// Requests to a station's control socket, and what its replies mean.

#include "web/control_client.h"

#include <gtest/gtest.h>

#include "support/control_socket_stub.h"
#include "support/temp_dir.h"

namespace tarnel::web {
namespace {

TEST(ControlClientTest, RepliesAreSuccessOrTheStationsMessage) {
    struct Case {
        int status;
        const char* body;
        const char* error;
    };
    const Case cases[] = {
        {200, R"({"ok": true})", ""},
        {200, R"({"queue": []})", ""},
        {200, "not json", "the station's reply is not JSON"},
        {200, "", "the station's reply is not JSON"},
        {400, R"({"error": "media/x.nsv is not an NSV file"})", "media/x.nsv is not an NSV file"},
        {409, R"x({"error": "the queue is full (100)"})x", "the queue is full (100)"},
        {404, R"({"error": ""})", "the station answered with status 404"},
        {500, "<html>", "the station answered with status 500"},
        {400, R"(["error"])", "the station answered with status 400"},
    };
    for (const Case& c : cases) {
        const ControlReply reply = interpret_control_reply(c.status, c.body);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.error, c.error) << c.body;
    }
}

TEST(ControlClientTest, SendsTheRequestAndReadsTheReplyOverTheSocket) {
    const test::TempDir dir;
    test::ControlSocketStub stub;
    stub.serve(dir.file("control.sock"), [](const test::ControlRequest& request) {
        return test::ControlAnswer{200,
                                   R"({"got": ")" + request.method + " " + request.target + "\"}"};
    });
    const ControlReply reply =
        control_request(dir.file("control.sock"), "POST", "/queue", {{"entry", "a.nsv"}});
    ASSERT_TRUE(reply.ok()) << reply.error;
    EXPECT_EQ(reply.body.at("got"), "POST /queue");
    const auto requests = stub.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].second.body, R"({"entry":"a.nsv"})");
}

TEST(ControlClientTest, AStationThatIsNotThereIsReportedAsUnreachable) {
    const test::TempDir dir;
    const ControlReply reply = control_request(dir.file("none.sock"), "GET", "/status");
    EXPECT_EQ(reply.status, 0);
    EXPECT_EQ(reply.error.rfind("the station cannot be reached: ", 0), 0u) << reply.error;
}

TEST(ControlClientTest, AHugeReplyIsCutOff) {
    const test::TempDir dir;
    test::ControlSocketStub stub;
    stub.serve(dir.file("control.sock"), [](const test::ControlRequest&) {
        return test::ControlAnswer{200, "\"" + std::string(kMaxControlReplyBytes + 10, 'x') + "\""};
    });
    const ControlReply reply = control_request(dir.file("control.sock"), "GET", "/status");
    EXPECT_FALSE(reply.ok());
    EXPECT_EQ(reply.error, "the station's reply is too large");
}

}  // namespace
}  // namespace tarnel::web
