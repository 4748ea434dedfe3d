#include "tarnelctl/tarnelctl_run.h"

#include <nlohmann/json.hpp>

#include "config/settings.h"
#include "tarnelctl/command_line.h"
#include "tarnelctl/control_client.h"
#include "tarnelctl/reply_text.h"

namespace tarnel::ctl {

namespace {

std::string reason_of(int status) {
    switch (status) {
        case 400:
            return "400 Bad Request";
        case 404:
            return "404 Not Found";
        case 405:
            return "405 Method Not Allowed";
        case 409:
            return "409 Conflict";
        case 500:
            return "500 Internal Server Error";
        case 503:
            return "503 Service Unavailable";
        default:
            return "HTTP status " + std::to_string(status);
    }
}

}  // namespace

int run_tarnelctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedCommandLine parsed = parse_command_line(args);
    if (!parsed.invocation) {
        err << "tarnelctl: " << parsed.error << "\n\n" << usage_text();
        return kExitUsageOrUnreached;
    }
    const Invocation& invocation = *parsed.invocation;
    if (invocation.command == Command::kHelp) {
        out << usage_text();
        return kExitDone;
    }
    if (invocation.command == Command::kVersion) {
        out << "tarnelctl " << kVersion << '\n';
        return kExitDone;
    }
    const StationReply reply = call_station(invocation.socket_path, control_call(invocation));
    if (!reply.reached) {
        err << "tarnelctl: the station was not reached: " << reply.failure << '\n';
        return kExitUsageOrUnreached;
    }
    const nlohmann::json body = nlohmann::json::parse(reply.body, nullptr, false);
    if (!body.is_object()) {
        err << "tarnelctl: the reply on " << invocation.socket_path
            << " is not the station's (no JSON object)\n";
        return kExitUsageOrUnreached;
    }
    if (reply.status < 200 || reply.status > 299) {
        if (invocation.json) {
            out << json_for_programs(invocation, body);
        }
        const auto error = body.find("error");
        err << "tarnelctl: the station refused the request: "
            << (error != body.end() && error->is_string() ? error->get<std::string>()
                                                          : std::string("no reason given"))
            << " (" << reason_of(reply.status) << ")\n";
        return kExitRefused;
    }
    try {
        out << (invocation.json ? json_for_programs(invocation, body)
                                : text_for_people(invocation, body));
    } catch (const nlohmann::json::exception&) {
        err << "tarnelctl: the reply on " << invocation.socket_path
            << " is not the station's (unexpected fields)\n";
        return kExitUsageOrUnreached;
    }
    return kExitDone;
}

}  // namespace tarnel::ctl
