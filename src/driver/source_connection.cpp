#include "driver/source_connection.h"

#include <algorithm>
#include <thread>

#include "config/log.h"
#include "config/port_number.h"
#include "config/printable_text.h"
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
    // One receive, within the receive limit as a whole: over TLS it may take several records.
    std::string reply;
    {
        const StepDeadline whole_reply(connection, net_timeouts.receive);
        reply = connection.read_some();
    }
    // The legacy reply is read as a C string: what follows a NUL byte is not looked at.
    reply.resize(std::min(reply.size(), reply.find('\0')));
    if (!login_accepted(reply)) {
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
    const int base = base_port_number();
    return base == 0 ? 0 : base + 1;
}

std::vector<std::string> source_header_lines() {
    // Settings go out as they are, apart from control characters, which would end the line and
    // start a header of their own.
    const auto line = [](const char* name, const std::string& value) {
        return name + printable_text(value) + "\r\n";
    };
    std::vector<std::string> lines = {"content-type:video/nsv\r\n", "icy-metadata:1\r\n",
                                      line("icy-name:", streamname)};
    if (!description.empty()) {
        lines.push_back(line("icy-description:", description));
    }
    lines.insert(lines.end(),
                 {line("icy-genre:", genre), line("icy-pub:", ispublic), line("icy-br:", bitrate),
                  line("icy-url:", url), line("icy-irc:", irc), line("icy-icq:", icq),
                  line("icy-aim:", aim), "icy-reset:1\r\n\r\n"});
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
