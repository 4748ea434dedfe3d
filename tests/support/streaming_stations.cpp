#include "support/streaming_stations.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "support/media.h"

namespace tarnel::test {

namespace {

constexpr const char* kOwnMountPassword = "own-secret";

}  // namespace

StreamingStations::StreamingStations(int first_seconds, int second_seconds)
    : first_seconds_(first_seconds), second_seconds_(second_seconds) {}

StreamingStations::~StreamingStations() = default;

std::string StreamingStations::mount_of(const std::string& name) const {
    return name == "one" ? "/stream" : "/tarnel.nsv";
}

std::string StreamingStations::status_file(const std::string& name) const {
    return run_dir_.file(name + "/status.json");
}

bool StreamingStations::start(std::string& diagnostics) {
    IcecastServer::Options options;
    options.own_mount_password = kOwnMountPassword;
    // Every clip first, so that the stations start together.
    std::vector<std::vector<std::string>> clips_of;
    for (const std::string& name : names()) {
        std::vector<std::string> clips;
        for (const std::string part : {"first", "second"}) {
            const std::string clip =
                make_clip(media_.path(), name + "-" + part, name + " " + part,
                          part == "first" ? first_seconds_ : second_seconds_, diagnostics);
            if (clip.empty()) {
                return false;
            }
            clips.push_back(clip);
        }
        clips_of.push_back(clips);
    }
    icecast_ = std::make_unique<IcecastServer>(options);
    for (const std::string& name : names()) {
        const std::vector<std::string>& clips = clips_of[stations_.size()];
        const std::string folder = run_dir_.file(name);
        mkdir(folder.c_str(), 0755);
        auto station = std::make_unique<TarnelRun>(icecast_->port());
        station->configure(
            "Password=" +
            (name == "one" ? icecast_->options().source_password
                           : std::string(kOwnMountPassword) + "\nMount=" + mount_of(name)) +
            "\nRealTime=no\nStatusFile=" + status_file(name) + "\nControlSocket=" + folder +
            "/control.sock\nStreamName=" + name + "\n");
        station->playlist("#Mode=basic\n" + clips[0] + "\n" + clips[1] + "\n");
        station->start();
        stations_.push_back(std::move(station));
    }
    return true;
}

bool StreamingStations::wait_until_streaming(int timeout_ms) const {
    return wait_until(
        [this] {
            for (const std::string& name : names()) {
                const nlohmann::json status =
                    nlohmann::json::parse(read_file(status_file(name)), nullptr, false);
                if (!status.is_object() || status.value("state", "") != "streaming" ||
                    !status["title"].is_string() || status.value("seconds_sent", 0) < 1) {
                    return false;
                }
            }
            return true;
        },
        timeout_ms);
}

std::string StreamingStations::logs() const {
    std::string text;
    for (size_t i = 0; i < stations_.size(); ++i) {
        text += "--- station " + names()[i] + ":\n" + stations_[i]->log();
    }
    return text + "--- icecast:\n" + (icecast_ ? icecast_->error_log() : "");
}

std::string mount_title(const std::string& status_json, const std::string& mount) {
    const nlohmann::json status = nlohmann::json::parse(status_json, nullptr, false);
    if (!status.is_object() || !status.contains("icestats")) {
        return "";
    }
    nlohmann::json sources = status["icestats"].value("source", nlohmann::json());
    if (sources.is_object()) {
        sources = nlohmann::json::array({sources});
    }
    if (!sources.is_array()) {
        return "";
    }
    for (const nlohmann::json& source : sources) {
        const std::string url = source.value("listenurl", "");
        if (url.size() >= mount.size() &&
            url.compare(url.size() - mount.size(), mount.size(), mount) == 0 &&
            source.contains("title") && source["title"].is_string()) {
            return source["title"].get<std::string>();
        }
    }
    return "";
}

}  // namespace tarnel::test
