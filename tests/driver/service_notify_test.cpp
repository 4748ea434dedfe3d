#include "driver/service_notify.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "support/notify_listener.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

using std::chrono::milliseconds;

// Each case starts from an environment without the manager's variables.
class ServiceNotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) {
            unsetenv(name);
        }
        reset_service_notify();
    }
    void TearDown() override {
        environment_.clear();
        reset_service_notify();
    }
    void set(const std::string& name, const std::string& value) {
        environment_.push_back(std::make_unique<ScopedEnvironment>(name, value));
        reset_service_notify();
    }

    std::vector<std::unique_ptr<ScopedEnvironment>> environment_;
};

TEST_F(ServiceNotifyTest, WithoutNotifySocketNothingIsEnabled) {
    EXPECT_FALSE(service_notify_enabled());
    notify_service("READY=1");  // nowhere to go, and no failure
    notify_watchdog();
}

// A title with a line break must not add a field that the manager obeys (WATCHDOG=trigger kills
// the service, STOPPING=1 changes its state).
TEST_F(ServiceNotifyTest, TheStatusIsOneFieldWhateverItsText) {
    const TempDir dir;
    NotifyListener listener(dir.file("notify"));
    set("NOTIFY_SOCKET", dir.file("notify"));
    notify_status("Streaming Song\nWATCHDOG=trigger\nSTOPPING=1 (a.nsv)");
    EXPECT_EQ(listener.receive(milliseconds(2000)),
              "STATUS=Streaming Song?WATCHDOG=trigger?STOPPING=1 (a.nsv)");
    notify_status("Streaming Song (a.nsv)");
    EXPECT_EQ(listener.receive(milliseconds(2000)), "STATUS=Streaming Song (a.nsv)");
}

TEST_F(ServiceNotifyTest, NamesThatAreNeitherPathNorAbstractAreIgnored) {
    for (const std::string& name :
         {std::string(), std::string("relative/socket"), std::string(200, '/')}) {
        set("NOTIFY_SOCKET", name);
        EXPECT_FALSE(service_notify_enabled()) << name;
    }
}

TEST_F(ServiceNotifyTest, MessagesReachAPathAndAnAbstractSocket) {
    const TempDir dir;
    const std::string abstract = "@tarnel-notify-test-" + std::to_string(getpid());
    for (const std::string& name : {dir.file("notify"), abstract}) {
        NotifyListener listener(name);
        set("NOTIFY_SOCKET", name);
        ASSERT_TRUE(service_notify_enabled()) << name;
        notify_service("READY=1\nSTATUS=Starting");
        EXPECT_EQ(listener.receive(milliseconds(2000)), "READY=1\nSTATUS=Starting") << name;
    }
}

TEST_F(ServiceNotifyTest, WatchdogPingsOnlyWhenAskedForAndAtMostTwiceASecond) {
    const TempDir dir;
    NotifyListener listener(dir.file("notify"));
    set("NOTIFY_SOCKET", listener.name());

    notify_watchdog();  // no WATCHDOG_USEC: the manager keeps no watchdog
    EXPECT_EQ(listener.receive(milliseconds(200)), "");

    set("WATCHDOG_USEC", "60000000");
    set("WATCHDOG_PID", std::to_string(getpid() + 1));  // meant for another process
    notify_watchdog();
    EXPECT_EQ(listener.receive(milliseconds(200)), "");

    set("WATCHDOG_PID", std::to_string(getpid()));
    for (int i = 0; i < 50; ++i) {
        notify_watchdog();
    }
    EXPECT_EQ(listener.receive_for(milliseconds(300)), std::vector<std::string>{"WATCHDOG=1"});
    usleep(500000);
    notify_watchdog();
    EXPECT_EQ(listener.receive(milliseconds(1000)), "WATCHDOG=1");
}

TEST_F(ServiceNotifyTest, AShortWatchdogPeriodIsPingedTwicePerPeriod) {
    const TempDir dir;
    NotifyListener listener(dir.file("notify"));
    set("NOTIFY_SOCKET", listener.name());
    set("WATCHDOG_USEC", "400000");  // 0.4 s: a ping every 0.2 s
    const auto end = std::chrono::steady_clock::now() + milliseconds(1000);
    while (std::chrono::steady_clock::now() < end) {
        notify_watchdog();
        usleep(10000);
    }
    const size_t pings = listener.receive_for(milliseconds(200)).size();
    EXPECT_GE(pings, 4u);
    EXPECT_LE(pings, 6u);
}

}  // namespace
}  // namespace tarnel::test
