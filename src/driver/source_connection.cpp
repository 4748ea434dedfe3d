#include "driver/source_connection.h"

#include <cstdlib>
#include <thread>

#include "config/log.h"
#include "config/settings.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"

namespace tarnel {

namespace {

void send_lines(const ClientSocket& connection, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        connection << line;
    }
}

void check_reply(const ClientSocket& connection) {
    std::string reply;
    connection >> reply;
    if (!login_accepted(reply)) {
        throw SocketException("Invalid Password");
    }
}

void log_lines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        nsv_log(line);
    }
}

}  // namespace

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

ClientSocket open_source_connection() {
    ClientSocket connection(server, source_port());
    connection << password << "\r\n";

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
    log_lines(source_summary_lines());
    std::this_thread::sleep_for(kAfterHeadersPause);
    return connection;
}

}  // namespace tarnel
