#include "tarnelctl/command_line.h"

#include <gtest/gtest.h>

namespace tarnel::ctl {
namespace {

using Args = std::vector<std::string>;

struct Good {
    const char* name;
    Args args;
    Command command;
    std::string socket;
    std::string argument;
    size_t number;
    bool json;
    ControlCall call;
};

const Good kGood[] = {
    {"Status",
     {"news", "status"},
     Command::kStatus,
     "/run/tarnel/news/control.sock",
     "",
     0,
     false,
     {"GET", "/status", ""}},
    {"StatusAsJson",
     {"--json", "news", "status"},
     Command::kStatus,
     "/run/tarnel/news/control.sock",
     "",
     0,
     true,
     {"GET", "/status", ""}},
    {"JsonAtTheEnd",
     {"news", "next", "--json"},
     Command::kNext,
     "/run/tarnel/news/control.sock",
     "",
     0,
     true,
     {"GET", "/status", ""}},
    {"SocketGiven",
     {"-s", "/tmp/s.sock", "skip"},
     Command::kSkip,
     "/tmp/s.sock",
     "",
     0,
     false,
     {"POST", "/skip", ""}},
    {"SocketGivenLong",
     {"--socket=/tmp/s.sock", "queue"},
     Command::kQueueList,
     "/tmp/s.sock",
     "",
     0,
     false,
     {"GET", "/queue", ""}},
    {"QueueAFile",
     {"news", "queue", "media/spot \"1\".nsv"},
     Command::kQueueAdd,
     "/run/tarnel/news/control.sock",
     "media/spot \"1\".nsv",
     0,
     false,
     {"POST", "/queue", R"({"entry":"media/spot \"1\".nsv"})"}},
    {"QueueAFileThatLooksLikeAnOption",
     {"news", "queue", "--", "-odd.nsv"},
     Command::kQueueAdd,
     "/run/tarnel/news/control.sock",
     "-odd.nsv",
     0,
     false,
     {"POST", "/queue", R"({"entry":"-odd.nsv"})"}},
    {"Play",
     {"news", "play", "/srv/a.nsv"},
     Command::kPlay,
     "/run/tarnel/news/control.sock",
     "/srv/a.nsv",
     0,
     false,
     {"POST", "/play", R"({"entry":"/srv/a.nsv"})"}},
    {"Unqueue",
     {"news", "unqueue", "3"},
     Command::kUnqueue,
     "/run/tarnel/news/control.sock",
     "",
     3,
     false,
     {"DELETE", "/queue/3", ""}},
    {"TitleWordsAreJoined",
     {"news", "title", "Breaking", "news"},
     Command::kTitle,
     "/run/tarnel/news/control.sock",
     "Breaking news",
     0,
     false,
     {"POST", "/title", R"({"title":"Breaking news"})"}},
    {"ReloadConfig",
     {"news", "reload", "config"},
     Command::kReload,
     "/run/tarnel/news/control.sock",
     "config",
     0,
     false,
     {"POST", "/reload", R"({"what":"config"})"}},
    {"ReloadPlaylist",
     {"news", "reload", "playlist"},
     Command::kReload,
     "/run/tarnel/news/control.sock",
     "playlist",
     0,
     false,
     {"POST", "/reload", R"({"what":"playlist"})"}},
    {"History",
     {"news", "history"},
     Command::kHistory,
     "/run/tarnel/news/control.sock",
     "",
     10,
     false,
     {"GET", "/history?n=10", ""}},
    {"HistoryOf50",
     {"news", "history", "50"},
     Command::kHistory,
     "/run/tarnel/news/control.sock",
     "",
     50,
     false,
     {"GET", "/history?n=50", ""}},
};

class GoodCommandLineTest : public ::testing::TestWithParam<Good> {};

TEST_P(GoodCommandLineTest, IsReadAndMadeIntoItsRequest) {
    const Good& good = GetParam();
    const ParsedCommandLine parsed = parse_command_line(good.args);
    ASSERT_TRUE(parsed.invocation) << parsed.error;
    const Invocation& invocation = *parsed.invocation;
    EXPECT_EQ(invocation.command, good.command);
    EXPECT_EQ(invocation.socket_path, good.socket);
    EXPECT_EQ(invocation.argument, good.argument);
    EXPECT_EQ(invocation.number, good.number);
    EXPECT_EQ(invocation.json, good.json);
    const ControlCall call = control_call(invocation);
    EXPECT_EQ(call.method, good.call.method);
    EXPECT_EQ(call.target, good.call.target);
    EXPECT_EQ(call.body, good.call.body);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoodCommandLineTest, ::testing::ValuesIn(kGood),
                         [](const ::testing::TestParamInfo<Good>& param_info) {
                             return std::string(param_info.param.name);
                         });

struct Bad {
    Args args;
    const char* error;
};

TEST(BadCommandLineTest, NamesWhatIsWrong) {
    const Bad cases[] = {
        {{}, "no station named"},
        {{"news"}, "no command given"},
        {{"../etc", "status"}, "'../etc' is no station name (a name has no '/')"},
        {{"news", "stats"}, "unknown command 'stats'"},
        {{"news", "status", "now"}, "too many arguments for 'status'"},
        {{"news", "play"}, "'play' needs a file"},
        {{"news", "queue", "a.nsv", "b.nsv"}, "too many arguments for 'queue'"},
        {{"news", "unqueue"}, "'unqueue' needs the number of a queue item"},
        {{"news", "unqueue", "0"}, "unqueue takes the number of a queue item, counted from 1"},
        {{"news", "unqueue", "two"}, "unqueue takes the number of a queue item, counted from 1"},
        {{"news", "title"}, "'title' needs a text"},
        {{"news", "reload"}, "'reload' needs config or playlist"},
        {{"news", "reload", "all"}, "reload takes config or playlist"},
        {{"news", "history", "1001"}, "history takes a number of items from 1 to 1000"},
        {{"news", "-x", "status"}, "unknown option '-x'"},
        {{"-s"}, "-s needs the path of a control socket"},
        {{"--socket=", "status"}, "-s needs the path of a control socket"},
    };
    for (const Bad& bad : cases) {
        const ParsedCommandLine parsed = parse_command_line(bad.args);
        EXPECT_FALSE(parsed.invocation);
        EXPECT_EQ(parsed.error, bad.error);
    }
}

TEST(BadCommandLineTest, HelpAndVersionNeedNoStation) {
    EXPECT_EQ(parse_command_line({"--help"}).invocation->command, Command::kHelp);
    EXPECT_EQ(parse_command_line({"news", "-h"}).invocation->command, Command::kHelp);
    EXPECT_EQ(parse_command_line({"--version"}).invocation->command, Command::kVersion);
}

}  // namespace
}  // namespace tarnel::ctl
