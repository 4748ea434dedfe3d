#include "driver/source_connection.h"

#include <cstdlib>
#include <thread>

#include "config/log.h"
#include "config/settings.h"
#include "driver/icecast_source.h"
#include "net/http_reply.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"

namespace tarnel {

namespace {

void send_lines(Transport& connection, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        connection.write_text(line);
    }
}

void check_reply(Transport& connection) {
    if (!login_accepted(connection.read_some())) {
        throw SocketException("Invalid Password");
    }
}

}  // namespace

void SourceConnection::take_server_reply() {
    std::string bytes;
    try {
        bytes = transport_->read_available();
    } catch (const SocketException&) {
        throw SocketException("Could not write to socket.");
    }
    if (route_.mount.empty()) {
        return;
    }
    reply_ += bytes;
    for (;;) {
        const HttpReply reply = parse_http_reply(reply_);
        if (reply.state == HttpReply::State::kIncomplete) {
            return;
        }
        judge_reply_while_streaming(reply);
        reply_.erase(0, reply.head_length);  // an interim reply: the final one may follow
    }
}

int source_port() {
    return std::atoi(port.c_str()) + 1;
}

std::vector<std::string> source_header_lines() {
    std::vector<std::string> lines = {"content-type:video/nsv\r\n", "icy-metadata:1\r\n",
                                      "icy-name:" + streamname + "\r\n"};
    if (!description.empty()) {
        lines.push_back("icy-description:" + description + "\r\n");
    }
    lines.insert(lines.end(), {"icy-genre:" + genre + "\r\n", "icy-pub:" + ispublic + "\r\n",
                               "icy-br:" + bitrate + "\r\n", "icy-url:" + url + "\r\n",
                               "icy-irc:" + irc + "\r\n", "icy-icq:" + icq + "\r\n",
                               "icy-aim:" + aim + "\r\n", "icy-reset:1\r\n\r\n"});
    return lines;
}

std::vector<std::string> source_summary_lines() {
    return {"icy-name:" + streamname + " ; icy-genre:" + genre,
            "icy-pub:" + ispublic + " ; icy-br:" + bitrate + " ; icy-url:" + url,
            "icy-irc:" + irc + " ; icy-icq:" + icq + " ; icy-aim:" + aim};
}

bool login_accepted(const std::string& reply) {
    return reply.find("OK2") != std::string::npos;
}

void legacy_login(Transport& connection) {
    connection.write_text(password);
    connection.write_text("\r\n");

    if (connection.readable_within(net_timeouts.early_reply)) {
        // The usual order: the reply to the password, then the header block.
        check_reply(connection);
        nsv_log("Connection Success");
        send_lines(connection, source_header_lines());
    } else {
        // Servers that read the whole header block before they answer the password.
        send_lines(connection, source_header_lines());
        check_reply(connection);
        nsv_log("Connection Success");
    }
    log_source_summary();
    std::this_thread::sleep_for(kAfterHeadersPause);
}

ClientSocket open_source_connection() {
    ClientSocket connection(server, source_port());
    legacy_login(connection);
    return connection;
}

SourceConnection open_source() {
    const ServerRoute route = current_server_route();
    if (route.mount.empty()) {
        std::unique_ptr<Transport> connection = open_transport(server, source_port(), route.tls);
        legacy_login(*connection);
        return SourceConnection(std::move(connection), route);
    }
    return SourceConnection(open_icecast_source(route), route);
}

void log_source_summary() {
    for (const std::string& line : source_summary_lines()) {
        nsv_log(line);
    }
}

}  // namespace tarnel
