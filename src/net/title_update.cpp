#include "net/title_update.h"

#include "config/log.h"
#include "config/port_number.h"
#include "config/settings.h"
#include "net/http_client.h"
#include "net/net_timeouts.h"
#include "net/socket_exception.h"
#include "net/transport.h"

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

std::string metadata_request(const std::string& host, int port_number,
                             const std::string& mount_name, const std::string& user_name,
                             const std::string& pass, const std::string& title) {
    return "GET /admin/metadata?mount=" + percent_encode(mount_name) +
           "&mode=updinfo&song=" + percent_encode(title) +
           " HTTP/1.0\r\nHost: " + host_header(host, port_number) +
           "\r\nAuthorization: " + basic_credentials(user_name, pass) +
           "\r\nUser-Agent: " + http_user_agent() + "\r\n\r\n";
}

ServerRoute current_server_route() {
    return {mount, tls};
}

namespace {

// Sends Icecast's title update and checks its answer; throws the failure's text.
void send_metadata(Transport& admin, const TitleUpdateJob& job) {
    admin.write_text(metadata_request(job.server, job.base_port, job.route.mount, job.user,
                                      job.password, job.title));
    const HttpReply reply = read_http_reply(admin);
    if (reply.state == HttpReply::State::kMalformed) {
        throw SocketException("Malformed reply from the server.");
    }
    if (reply.status == 401) {
        throw SocketException("Invalid Password");
    }
    if (reply.status != 200) {
        throw SocketException("Unexpected reply from the server.");
    }
}

}  // namespace

TitleUpdateJob title_update_job(const std::string& title, const std::string& link,
                                const ServerRoute& route) {
    // The base port itself (the legacy source connection uses the next one).
    return TitleUpdateJob{server,      base_port_number(), route, user, password, tls_ca_file,
                          title,       link,               net_timeouts.title_update};
}

std::string run_title_update(const TitleUpdateJob& job) {
    try {
        const std::unique_ptr<Transport> admin =
            open_transport(job.server, job.base_port, job.route.tls, job.ca_file,
                           Transport::Clock::now() + job.time_limit);
        if (job.route.mount.empty()) {
            for (const std::string& piece :
                 title_update_request(job.password, job.title, job.link)) {
                admin->write_text(piece);
            }
            admin->finish_unanswered();
        } else {
            send_metadata(*admin, job);
        }
        return "Title Updated (" + job.title + ")";
    } catch (const SocketException& error) {
        return "Error Updating Title(" + error.text() + ")";
    }
}

void update_title(const std::string& title, const std::string& link, const ServerRoute& route) {
    nsv_log(run_title_update(title_update_job(title, link, route)));
}

void update_title(std::string title, std::string link) {
    update_title(title, link, current_server_route());
}

}  // namespace tarnel
