#include "control/control_reply.h"

namespace tarnel {

ControlReply error_reply(int status, const std::string& message) {
    ControlReply reply;
    reply.status = status;
    reply.body["error"] = message;
    return reply;
}

const char* reason_phrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 417:
            return "Expectation Failed";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Unknown";
    }
}

std::string reply_bytes(const ControlReply& reply) {
    const std::string body =
        reply.body.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::string head =
        "HTTP/1.1 " + std::to_string(reply.status) + " " + reason_phrase(reply.status) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n";
    if (!reply.allow.empty()) {
        head += "Allow: " + reply.allow + "\r\n";
    }
    return head + "\r\n" + body;
}

}  // namespace tarnel
