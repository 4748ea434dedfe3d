#include "net/title_update.h"

#include <cstdlib>

#include "config/log.h"
#include "config/settings.h"
#include "net/client_socket.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"

namespace tarnel {

namespace {

bool is_unreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

std::string percent_encode(const std::string& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_unreserved(byte)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0x0F]);
        }
    }
    return encoded;
}

std::vector<std::string> title_update_request(const std::string& pass, const std::string& title,
                                              const std::string& link) {
    return {"GET /admin.cgi?pass=",
            percent_encode(pass),
            "&mode=updinfo&song=",
            percent_encode(title),
            "&url=",
            percent_encode(link),
            " HTTP/1.0\r\nUser-Agent: Mozilla/4.0(compatible; Tarnel v",
            kVersion,
            "/",
            kPlatform,
            ")\r\n\r\n"};
}

void update_title(std::string title, std::string link) {
    try {
        // The base port itself (the source connection uses the next one).
        const ClientSocket admin(server, std::atoi(port.c_str()),
                                 ClientSocket::Clock::now() + net_timeouts.title_update);
        for (const std::string& piece : title_update_request(password, title, link)) {
            admin << piece;
        }
        nsv_log("Title Updated (" + title + ")");
    } catch (const SocketException& error) {
        nsv_log("Error Updating Title(" + error.text() + ")");
    }
}

}  // namespace tarnel
