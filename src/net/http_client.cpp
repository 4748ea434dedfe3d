#include "net/http_client.h"

#include <openssl/evp.h>

#include <vector>

#include "config/printable_text.h"
#include "config/settings.h"
#include "net/net_timeouts.h"

namespace tarnel {

std::string basic_credentials(const std::string& name, const std::string& secret) {
    const std::string plain = name + ":" + secret;
    // Base64: four characters for every three bytes, and the NUL that EVP_EncodeBlock adds.
    std::vector<unsigned char> encoded((plain.size() + 2) / 3 * 4 + 1);
    const int length =
        EVP_EncodeBlock(encoded.data(), reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size()));
    return "Basic " +
           std::string(reinterpret_cast<const char*>(encoded.data()), static_cast<size_t>(length));
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
