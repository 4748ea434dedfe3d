#include "control/control_routes.h"

#include <optional>

#include "config/port_number.h"

namespace tarnel {

namespace {

using Json = nlohmann::ordered_json;

int status_of(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone:
            return 200;
        case Refusal::kBadEntry:
            return 400;
        case Refusal::kNoSuchItem:
            return 404;
        case Refusal::kQueueFull:
        case Refusal::kNothingPlays:
            return 409;
        case Refusal::kFailed:
            return 500;
    }
    return 500;
}

ControlReply ok() {
    ControlReply reply;
    reply.body["ok"] = true;
    return reply;
}

ControlReply queue_reply(StationControl& station) {
    Json entries = Json::array();
    for (const std::string& entry : station.queue()) {
        entries.push_back(Json{{"entry", entry}});
    }
    ControlReply reply;
    reply.body["queue"] = std::move(entries);
    return reply;
}

ControlReply refused(const ControlOutcome& outcome) {
    return error_reply(status_of(outcome.refusal), outcome.message);
}

// The value of key in a query "a=1&b=2", or nothing when the key is not there.
std::optional<std::string> query_value(const std::string& query, const std::string& key) {
    size_t at = 0;
    while (at <= query.size()) {
        const size_t end = std::min(query.find('&', at), query.size());
        const std::string pair = query.substr(at, end - at);
        const size_t equals = pair.find('=');
        if (pair.substr(0, equals) == key) {
            return equals == std::string::npos ? std::string() : pair.substr(equals + 1);
        }
        at = end + 1;
    }
    return std::nullopt;
}

// The string value of key in a JSON object body; the error reply when there is none.
std::optional<std::string> body_text(const ControlRequest& request, const char* key,
                                     const char* meaning, ControlReply& error) {
    const Json body = Json::parse(request.body, nullptr, false);
    if (!body.is_object()) {
        error = error_reply(400, "the body is not a JSON object");
        return std::nullopt;
    }
    const auto found = body.find(key);
    if (found == body.end() || !found->is_string()) {
        error = error_reply(400, std::string("the body needs \"") + key + "\": " + meaning);
        return std::nullopt;
    }
    return found->get<std::string>();
}

ControlReply answer_queue_add(const ControlRequest& request, StationControl& station) {
    ControlReply error;
    const std::optional<std::string> entry =
        body_text(request, "entry", "the path of an NSV file", error);
    if (!entry) {
        return error;
    }
    const ControlOutcome outcome = station.enqueue(*entry);
    return outcome.refusal == Refusal::kNone ? queue_reply(station) : refused(outcome);
}

ControlReply answer_unqueue(const std::string& number_text, StationControl& station) {
    const std::vector<std::string> queue = station.queue();
    const std::optional<size_t> number = decimal_number_in(number_text, queue.size());
    const ControlOutcome outcome =
        number ? station.unqueue(*number)
               : ControlOutcome{Refusal::kNoSuchItem, "there is no item " + number_text +
                                                          " in the queue (it holds " +
                                                          std::to_string(queue.size()) + ")"};
    return outcome.refusal == Refusal::kNone ? queue_reply(station) : refused(outcome);
}

ControlReply answer_play(const ControlRequest& request, StationControl& station) {
    ControlReply error;
    const std::optional<std::string> entry =
        body_text(request, "entry", "the path of an NSV file", error);
    if (!entry) {
        return error;
    }
    const ControlOutcome outcome = station.play(*entry);
    return outcome.refusal == Refusal::kNone ? ok() : refused(outcome);
}

ControlReply answer_title(const ControlRequest& request, StationControl& station) {
    ControlReply error;
    const std::optional<std::string> title = body_text(request, "title", "the text", error);
    if (!title) {
        return error;
    }
    const ControlOutcome outcome = station.set_title(*title);
    return outcome.refusal == Refusal::kNone ? ok() : refused(outcome);
}

ControlReply answer_reload(const ControlRequest& request, StationControl& station) {
    ControlReply error;
    const std::optional<std::string> what =
        body_text(request, "what", "\"config\" or \"playlist\"", error);
    if (!what) {
        return error;
    }
    if (*what != "config" && *what != "playlist") {
        return error_reply(400, "\"what\" must be \"config\" or \"playlist\"");
    }
    const ControlOutcome outcome =
        station.reload(*what == "config" ? ReloadTarget::kConfig : ReloadTarget::kPlaylist);
    ControlReply reply = outcome.refusal == Refusal::kNone ? ok() : refused(outcome);
    reply.body["outcome"] = outcome.message;
    return reply;
}

ControlReply answer_history(const ControlRequest& request, StationControl& station) {
    size_t count = kDefaultHistoryItems;
    if (const std::optional<std::string> n = query_value(request.query, "n")) {
        const std::optional<size_t> number = decimal_number_in(*n, kMaxHistoryItems);
        if (!number) {
            return error_reply(
                400, "n must be a whole number from 1 to " + std::to_string(kMaxHistoryItems));
        }
        count = *number;
    }
    std::vector<Json> records;
    const ControlOutcome outcome = station.history(count, records);
    if (outcome.refusal != Refusal::kNone) {
        return refused(outcome);
    }
    ControlReply reply;
    reply.body["items"] = Json::array();
    for (Json& record : records) {
        reply.body["items"].push_back(std::move(record));
    }
    return reply;
}

ControlReply wrong_method(const std::string& path, const char* allowed) {
    ControlReply reply = error_reply(405, path + " takes " + allowed);
    reply.allow = allowed;
    return reply;
}

}  // namespace

ControlReply answer_control_request(const ControlRequest& request, StationControl& station) {
    const std::string& path = request.path;
    const std::string& method = request.method;
    if (path == "/status") {
        if (method != "GET") {
            return wrong_method(path, "GET");
        }
        ControlReply reply;
        reply.body = station.status();
        return reply;
    }
    if (path == "/skip") {
        if (method != "POST") {
            return wrong_method(path, "POST");
        }
        station.skip();
        return ok();
    }
    if (path == "/queue") {
        if (method == "GET") {
            return queue_reply(station);
        }
        if (method == "POST") {
            return answer_queue_add(request, station);
        }
        return wrong_method(path, "GET, POST");
    }
    static const std::string kQueueItem = "/queue/";
    if (path.compare(0, kQueueItem.size(), kQueueItem) == 0) {
        if (method != "DELETE") {
            return wrong_method(path, "DELETE");
        }
        return answer_unqueue(path.substr(kQueueItem.size()), station);
    }
    if (path == "/play") {
        return method == "POST" ? answer_play(request, station) : wrong_method(path, "POST");
    }
    if (path == "/title") {
        return method == "POST" ? answer_title(request, station) : wrong_method(path, "POST");
    }
    if (path == "/reload") {
        return method == "POST" ? answer_reload(request, station) : wrong_method(path, "POST");
    }
    if (path == "/history") {
        return method == "GET" ? answer_history(request, station) : wrong_method(path, "GET");
    }
    return error_reply(404, "no such request: " + method + " " + path);
}

}  // namespace tarnel
