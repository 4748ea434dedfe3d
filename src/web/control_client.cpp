#include "web/control_client.h"

#include <httplib.h>
#include <sys/socket.h>

namespace tarnel::web {

ControlReply interpret_control_reply(int status, const std::string& body) {
    ControlReply reply;
    reply.status = status;
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (!parsed.is_discarded()) {
        reply.body = std::move(parsed);
    }
    if (status >= 200 && status < 300) {
        if (reply.body.is_discarded() || reply.body.is_null()) {
            reply.error = "the station's reply is not JSON";
        }
        return reply;
    }
    const auto message = reply.body.is_object() ? reply.body.find("error") : reply.body.end();
    if (reply.body.is_object() && message != reply.body.end() && message->is_string() &&
        !message->get<std::string>().empty()) {
        reply.error = message->get<std::string>();
    } else {
        reply.error = "the station answered with status " + std::to_string(status);
    }
    return reply;
}

ControlReply control_request(const std::string& socket_path, const std::string& method,
                             const std::string& target, const nlohmann::json& body,
                             std::chrono::milliseconds timeout) {
    httplib::Client client(socket_path);
    client.set_address_family(AF_UNIX);
    client.set_connection_timeout(timeout);
    client.set_read_timeout(timeout);
    client.set_write_timeout(timeout);
    client.set_keep_alive(false);

    httplib::Request request;
    request.method = method;
    request.path = target;
    if (!body.is_null()) {
        request.body = body.dump();
        request.set_header("Content-Type", "application/json");
    }
    std::string received;
    bool too_large = false;
    request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
        if (received.size() + length > kMaxControlReplyBytes) {
            too_large = true;
            return false;
        }
        received.append(data, length);
        return true;
    };
    const httplib::Result result = client.send(request);
    if (!result) {
        ControlReply reply;
        reply.error = too_large
                          ? "the station's reply is too large"
                          : "the station cannot be reached: " + httplib::to_string(result.error());
        return reply;
    }
    return interpret_control_reply(result->status, received);
}

}  // namespace tarnel::web
