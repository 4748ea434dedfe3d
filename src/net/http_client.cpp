#include "net/http_client.h"

#include "config/printable_text.h"
#include "config/settings.h"
#include "net/base64.h"
#include "net/net_timeouts.h"

namespace tarnel {

std::string basic_credentials(const std::string& name, const std::string& secret) {
    return "Basic " + base64_encode(name + ":" + secret);
}

std::string host_header(const std::string& host, int port_number) {
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    return printable_text(ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port_number);
}

std::string http_user_agent() {
    return std::string("Tarnel/") + kVersion + " (" + kPlatform + ")";
}

HttpReply read_http_reply(Transport& connection) {
    const StepDeadline whole_head(connection, net_timeouts.receive);
    std::string head;
    for (;;) {
        head += connection.read_some();
        const HttpReply reply = parse_http_reply(head);
        if (reply.state != HttpReply::State::kIncomplete) {
            return reply;
        }
    }
}

}  // namespace tarnel
