#include "tarnelctl/reply_text.h"

#include <algorithm>

namespace tarnel::ctl {

namespace {

using Json = nlohmann::json;

std::string dumped(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

// A value as text: strings as they are, numbers and booleans as JSON writes them, "-" for null
// or missing.
std::string text_of(const Json& object, const char* key) {
    if (!object.is_object()) {
        return "-";
    }
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return "-";
    }
    return found->is_string() ? found->get<std::string>() : dumped(*found);
}

bool has(const Json& object, const char* key) {
    return object.is_object() && object.contains(key) && !object[key].is_null();
}

std::string line(const std::string& label, const std::string& value) {
    std::string padded = label + ":";
    padded.resize(std::max<size_t>(padded.size() + 1, 17), ' ');
    return padded + value + "\n";
}

std::string count_of(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string next_text(const Json& next) {
    if (!next.is_object()) {
        return "nothing";
    }
    const bool queued = next.value("queued", false);
    return text_of(next, "entry") + (queued ? " (queued)" : " (from the playlist)");
}

std::string position_text(const Json& position) {
    if (!position.is_object()) {
        return "-";
    }
    if (text_of(position, "mode") == "object") {
        return "clock step " + text_of(position, "clock_step") + " of " +
               text_of(position, "clock_steps") + ": " + text_of(position, "object") + ", item " +
               text_of(position, "item") + " of " + text_of(position, "items");
    }
    return "entry " + text_of(position, "entry") + " of " + text_of(position, "entries");
}

std::string status_text(const Json& body) {
    std::string text = line("State", text_of(body, "state"));
    if (has(body, "entry")) {
        text += line("Playing", text_of(body, "title") + " (" + text_of(body, "entry") +
                                    "), second " + text_of(body, "second"));
    } else {
        text += line("Playing", "-");
    }
    text += line("Next", next_text(body.value("next", Json())));
    const size_t queued = body.value("queue", Json::array()).size();
    text += line("Queue", count_of(queued, "entry", "entries"));
    text += line("Playlist", position_text(body.value("position", Json())));
    std::string server = text_of(body, "server") + ":" + text_of(body, "port");
    if (has(body, "mount")) {
        server += ", mount " + text_of(body, "mount");
    }
    text += line("Server", server);
    text += line("Connected since", text_of(body, "connected_since"));
    text += line("Sent", text_of(body, "seconds_sent") + " seconds, " +
                             text_of(body, "bytes_sent") + " bytes");
    text += line("Reconnections", text_of(body, "reconnections"));
    if (has(body, "last_error")) {
        text += line("Last error",
                     text_of(body, "last_error") + " (" + text_of(body, "last_error_time") + ")");
    }
    return text;
}

std::string queue_text(const Json& body) {
    const Json queue = body.value("queue", Json::array());
    if (queue.empty()) {
        return "The queue is empty.\n";
    }
    std::string text;
    size_t number = 0;
    for (const Json& item : queue) {
        text += std::to_string(++number) + ". " + text_of(item, "entry") + "\n";
    }
    return text;
}

std::string history_text(const Json& body) {
    const Json items = body.value("items", Json::array());
    if (items.empty()) {
        return "Nothing has gone on air yet.\n";
    }
    std::string text;
    for (const Json& item : items) {
        std::string title = text_of(item, "title");
        text += text_of(item, "start") + "  " + text_of(item, "seconds") + " s  " +
                text_of(item, "ended") + "  " + (title.empty() ? "" : title + " ") + "(" +
                text_of(item, "entry") + ")" + (item.value("queued", false) ? ", queued" : "") +
                "\n";
    }
    return text;
}

}  // namespace

std::string text_for_people(const Invocation& invocation, const Json& body) {
    const size_t queued = body.is_object() ? body.value("queue", Json::array()).size() : 0;
    switch (invocation.command) {
        case Command::kStatus:
            return status_text(body);
        case Command::kNext:
            return next_text(body.value("next", Json())) + "\n";
        case Command::kSkip:
            return "Skipping to the next file after the second in progress.\n";
        case Command::kQueueList:
            return queue_text(body);
        case Command::kQueueAdd:
            return "Queued " + invocation.argument + "; the queue holds " +
                   count_of(queued, "entry", "entries") + ".\n";
        case Command::kUnqueue:
            return "Removed item " + std::to_string(invocation.number) + "; the queue holds " +
                   count_of(queued, "entry", "entries") + ".\n";
        case Command::kPlay:
            return "Playing " + invocation.argument + " after the second in progress.\n";
        case Command::kTitle:
            return "Title sent: " + invocation.argument + "\n";
        case Command::kReload:
            return text_of(body, "outcome") + "\n";
        case Command::kHistory:
            return history_text(body);
        case Command::kHelp:
        case Command::kVersion:
            break;
    }
    return "";
}

std::string json_for_programs(const Invocation& invocation, const Json& body) {
    if (invocation.command == Command::kNext && body.is_object()) {
        return dumped(Json{{"next", body.value("next", Json())}}) + "\n";
    }
    return dumped(body) + "\n";
}

}  // namespace tarnel::ctl
