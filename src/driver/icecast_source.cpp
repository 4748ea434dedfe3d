#include "driver/icecast_source.h"

#include "config/log.h"
#include "config/port_number.h"
#include "config/printable_text.h"
#include "config/settings.h"
#include "driver/source_connection.h"
#include "net/http_client.h"
#include "net/socket_exception.h"

namespace tarnel {

std::string icecast_source_request(const std::string& method, const std::string& mount_name) {
    const int base_port = base_port_number();
    // Settings go into the head as they are, apart from control characters, which would end the
    // line and start a header of their own.
    std::string head = method + " " + printable_text(mount_name) +
                       (method == "PUT" ? " HTTP/1.1" : " HTTP/1.0") +
                       "\r\nHost: " + host_header(server, base_port) +
                       "\r\nAuthorization: " + basic_credentials(user, password) +
                       "\r\nUser-Agent: " + http_user_agent() + "\r\nContent-Type: video/nsv\r\n";
    if (method == "PUT") {
        head += "Expect: 100-continue\r\n";
    }
    head += "ice-name: " + printable_text(streamname) + "\r\n";
    if (!description.empty()) {
        head += "ice-description: " + printable_text(description) + "\r\n";
    }
    head += "ice-genre: " + printable_text(genre) + "\r\nice-public: " + ispublic +
            "\r\nice-bitrate: " + printable_text(bitrate) + "\r\nice-url: " + printable_text(url) +
            "\r\n\r\n";
    return head;
}

SourceAnswer judge_source_reply(const HttpReply& reply) {
    if (reply.state != HttpReply::State::kComplete) {
        throw SocketException("Malformed reply from the server.");
    }
    switch (reply.status) {
        case 100:
        case 200:
            return SourceAnswer::kAccepted;
        case 401:
            throw SocketException("Invalid Password");
        case 403:
            throw SocketException("The server refused the mount: it is in use or not allowed.");
        case 405:
        case 501:
            return SourceAnswer::kMethodUnknown;
        default:
            throw SocketException("Unexpected reply from the server.");
    }
}

void judge_reply_while_streaming(const HttpReply& reply) {
    // Icecast 2.4 answers a PUT with "100 Continue" and, once the mount is set up, "200 OK",
    // and then goes on reading the stream: both are passed over.
    if (reply.state == HttpReply::State::kComplete && reply.status >= 100 && reply.status <= 200) {
        return;
    }
    judge_source_reply(reply);  // throws for every other reply
    throw SocketException("Unexpected reply from the server.");
}

namespace {

// One source request on a new connection; the connection when it was accepted, none when the
// server does not know the method.
std::unique_ptr<Transport> request_source(const ServerRoute& route, const std::string& method) {
    std::unique_ptr<Transport> connection = open_transport(server, base_port_number(), route.tls);
    connection->write_text(icecast_source_request(method, route.mount));
    if (judge_source_reply(read_http_reply(*connection)) == SourceAnswer::kMethodUnknown) {
        return nullptr;
    }
    return connection;
}

}  // namespace

std::unique_ptr<Transport> open_icecast_source(const ServerRoute& route) {
    std::unique_ptr<Transport> connection = request_source(route, "PUT");
    if (!connection) {
        connection = request_source(route, "SOURCE");
    }
    if (!connection) {
        throw SocketException("The server takes neither PUT nor SOURCE for a source.");
    }
    nsv_log("Connection Success");
    log_source_summary();
    return connection;
}

}  // namespace tarnel
