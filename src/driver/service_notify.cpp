#include "driver/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/printable_text.h"

namespace tarnel {

namespace {

using Clock = std::chrono::steady_clock;

// Pings are spaced by at least this much. Less than a second, so that a loop that calls once a
// second (a wait per second streamed) pings every time and not every other time.
constexpr std::chrono::microseconds kMostFrequentPing = std::chrono::milliseconds(500);

// The socket to the service manager and what the environment asked for; one per process.
class Notifier {
  public:
    Notifier() {
        const char* name = std::getenv("NOTIFY_SOCKET");
        if (name == nullptr || !address_from(name)) {
            return;
        }
        descriptor_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        watchdog_ = watchdog_period();
    }
    ~Notifier() {
        if (descriptor_ != -1) {
            close(descriptor_);
        }
    }
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    bool enabled() const { return descriptor_ != -1; }

    void send(const std::string& message) const {
        if (!enabled()) {
            return;
        }
        sendto(descriptor_, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address_), address_length_);
    }

    void ping() {
        if (!enabled() || watchdog_.count() <= 0) {
            return;
        }
        const auto now = Clock::now();
        if (pinged_ && now - last_ping_ < std::min(kMostFrequentPing, watchdog_ / 2)) {
            return;
        }
        pinged_ = true;
        last_ping_ = now;
        send("WATCHDOG=1");
    }

  private:
    // A path, or an abstract name after "@" (its first byte becomes the zero byte).
    bool address_from(const std::string& name) {
        if (name.empty() || name.size() >= sizeof address_.sun_path ||
            (name[0] != '/' && name[0] != '@')) {
            return false;
        }
        address_.sun_family = AF_UNIX;
        std::memcpy(address_.sun_path, name.data(), name.size());
        if (name[0] == '@') {
            address_.sun_path[0] = '\0';
        }
        // An abstract name is exactly its bytes; a path ends with its zero byte.
        address_length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() +
                                                 (name[0] == '/' ? 1 : 0));
        return true;
    }

    // The watchdog period the manager asked for, or zero.
    static std::chrono::microseconds watchdog_period() {
        const char* usec = std::getenv("WATCHDOG_USEC");
        if (usec == nullptr) {
            return {};
        }
        const char* pid = std::getenv("WATCHDOG_PID");
        if (pid != nullptr && std::strtol(pid, nullptr, 10) != static_cast<long>(getpid())) {
            return {};
        }
        return std::chrono::microseconds(std::strtoll(usec, nullptr, 10));
    }

    int descriptor_ = -1;
    sockaddr_un address_{};
    socklen_t address_length_ = 0;
    std::chrono::microseconds watchdog_{};
    bool pinged_ = false;
    Clock::time_point last_ping_{};
};

std::unique_ptr<Notifier> the_notifier;

Notifier& notifier() {
    if (!the_notifier) {
        the_notifier = std::make_unique<Notifier>();
    }
    return *the_notifier;
}

}  // namespace

bool service_notify_enabled() {
    return notifier().enabled();
}

void notify_service(const std::string& message) {
    notifier().send(message);
}

void notify_status(const std::string& text) {
    notifier().send("STATUS=" + printable_text(text));
}

void notify_watchdog() {
    notifier().ping();
}

void reset_service_notify() {
    the_notifier.reset();
}

}  // namespace tarnel
