#include "web/web_server.h"

#include <httplib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "web/control_client.h"
#include "web/dashboard_data.h"
#include "web/media_picker.h"
#include "web/metrics.h"
#include "web/run_directory.h"
#include "web/station_survey.h"
#include "web/web_assets.h"
#include "web/web_security.h"

namespace tarnel::web {

namespace {

using nlohmann::json;

// Request bodies (a title, a path) are small; anything larger is refused unread.
constexpr size_t kMaxRequestBytes = 64 * 1024;
// A title sent to a station: Icecast keeps far less.
constexpr size_t kMaxTitleBytes = 1024;

constexpr const char* kTokenPlaceholder = "@TARNEL_TOKEN@";

void reply_json(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                         "application/json");
}

void reply_error(httplib::Response& response, int status, const std::string& message) {
    reply_json(response, status, {{"error", message}});
}

// A JSON object from a request body, or null.
json request_object(const httplib::Request& request) {
    json body = json::parse(request.body, nullptr, false);
    return body.is_object() ? body : json(nullptr);
}

std::string string_field(const json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

}  // namespace

struct WebServer::Routes {
    WebSettings settings;
    ListenAddress address;
    std::string token;
    std::string page;  // index.html with the token in it
    httplib::Server server;

    // The station of a control request: its name is valid and it has a control socket.
    bool control_socket(const std::string& name, httplib::Response& response,
                        std::string& socket) const {
        if (!station_name_valid(name)) {
            reply_error(response, 404, "no station \"" + name + "\"");
            return false;
        }
        socket = control_socket_path(settings.run_dir, name);
        struct stat info {};
        if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
            reply_error(response, 404,
                        "the station \"" + name + "\" has no control socket (ControlSocket=)");
            return false;
        }
        return true;
    }

    // Passes a station's reply on: its status and body, or 502 when it could not be reached.
    static void forward(const ControlReply& reply, httplib::Response& response) {
        if (reply.status == 0) {
            reply_error(response, 502, reply.error);
        } else if (reply.ok()) {
            reply_json(response, reply.status, reply.body);
        } else {
            reply_error(response, reply.status, reply.error);
        }
    }

    // The station's directory, from its GET /status.
    static bool station_directory(const std::string& socket, httplib::Response& response,
                                  std::string& directory) {
        const ControlReply status = control_request(socket, "GET", "/status");
        if (!status.ok()) {
            forward(status, response);
            return false;
        }
        directory = status.body.is_object() ? string_field(status.body, "directory") : "";
        if (directory.empty()) {
            reply_error(response, 502, "the station names no directory in its status");
            return false;
        }
        return true;
    }

    httplib::Server::HandlerResponse guard(const httplib::Request& request,
                                           httplib::Response& response) const {
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("X-Frame-Options", "DENY");
        response.set_header("Referrer-Policy", "no-referrer");
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'; "
                            "form-action 'none'; base-uri 'none'");
        if (!settings.password.empty() &&
            !basic_auth_matches(request.get_header_value("Authorization"), settings.user,
                                settings.password)) {
            response.set_header("WWW-Authenticate",
                                "Basic realm=\"tarnel-web\", charset=\"UTF-8\"");
            reply_error(response, 401, "this needs the user and password of tarnel-web");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (address.loopback && !loopback_host(request.get_header_value("Host"))) {
            reply_error(response, 403, "this server answers only to names of this machine");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.path.rfind("/api/", 0) == 0 &&
            !control_request_allowed(request.get_header_value("X-Tarnel-Token"), token,
                                     request.get_header_value("Origin"),
                                     request.get_header_value("Host"))) {
            reply_error(response, 403, "the page's token is missing or old: reload the page");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }

    void install() {
        server.set_payload_max_length(kMaxRequestBytes);
        server.set_read_timeout(5, 0);
        server.set_write_timeout(5, 0);
        server.set_keep_alive_max_count(100);
        server.set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                return guard(request, response);
            });

        server.Get("/", [this](const httplib::Request&, httplib::Response& response) {
            response.set_header("Cache-Control", "no-store");
            response.set_content(page, "text/html; charset=utf-8");
        });
        server.Get(R"(/(app\.js|app\.css))", [](const httplib::Request& request,
                                                httplib::Response& response) {
            const Asset* asset = find_asset(request.path);
            if (asset == nullptr) {
                response.status = 404;
                return;
            }
            response.set_content(std::string(asset->body), std::string(asset->type).c_str());
        });
        server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
            const Survey survey = survey_stations(settings.run_dir, false);
            response.set_header("Cache-Control", "no-store");
            response.set_content(metrics_text(survey.stations, survey.left_out, std::time(nullptr)),
                                 "text/plain; version=0.0.4; charset=utf-8");
        });
        server.Get("/api/stations", [this](const httplib::Request&, httplib::Response& response) {
            const Survey survey = survey_stations(settings.run_dir, true);
            reply_json(response, 200,
                       dashboard_json(survey.stations, survey.left_out, std::time(nullptr)));
        });
        server.Get(R"(/api/stations/([^/]+)/files)", [this](const httplib::Request& request,
                                                            httplib::Response& response) {
            std::string socket;
            std::string directory;
            if (!control_socket(request.matches[1], response, socket) ||
                !station_directory(socket, response, directory)) {
                return;
            }
            const MediaListing listing = list_media(directory, request.get_param_value("path"));
            if (!listing.error.empty()) {
                reply_error(response, 400, listing.error);
                return;
            }
            json entries = json::array();
            for (const MediaEntry& entry : listing.entries) {
                entries.push_back({{"name", entry.name}, {"folder", entry.folder}});
            }
            reply_json(
                response, 200,
                {{"path", listing.path}, {"entries", entries}, {"truncated", listing.truncated}});
        });
        server.Post(R"(/api/stations/([^/]+)/skip)", [this](const httplib::Request& request,
                                                            httplib::Response& response) {
            std::string socket;
            if (control_socket(request.matches[1], response, socket)) {
                forward(control_request(socket, "POST", "/skip", json::object()), response);
            }
        });
        server.Post(R"(/api/stations/([^/]+)/(queue|play))", [this](const httplib::Request& request,
                                                                    httplib::Response& response) {
            std::string socket;
            std::string directory;
            const std::string entry = string_field(request_object(request), "entry");
            if (entry.empty()) {
                reply_error(response, 400, "the request names no entry");
                return;
            }
            if (!control_socket(request.matches[1], response, socket) ||
                !station_directory(socket, response, directory)) {
                return;
            }
            std::string reason;
            const std::optional<std::string> file = resolve_within(directory, entry, reason);
            if (!file) {
                reply_error(response, 400, reason);
                return;
            }
            forward(
                control_request(socket, "POST", "/" + request.matches[2].str(), {{"entry", *file}}),
                response);
        });
        server.Post(R"(/api/stations/([^/]+)/title)", [this](const httplib::Request& request,
                                                             httplib::Response& response) {
            std::string socket;
            const std::string title = string_field(request_object(request), "title");
            if (title.empty() || title.size() > kMaxTitleBytes) {
                reply_error(response, 400,
                            "a title is 1 to " + std::to_string(kMaxTitleBytes) + " bytes");
                return;
            }
            if (control_socket(request.matches[1], response, socket)) {
                forward(control_request(socket, "POST", "/title", {{"title", title}}), response);
            }
        });
        server.Delete(
            R"(/api/stations/([^/]+)/queue/([0-9]{1,4}))",
            [this](const httplib::Request& request, httplib::Response& response) {
                std::string socket;
                if (control_socket(request.matches[1], response, socket)) {
                    forward(control_request(socket, "DELETE", "/queue/" + request.matches[2].str()),
                            response);
                }
            });
    }
};

WebServer::WebServer(WebSettings settings, std::string token)
    : routes_(std::make_unique<Routes>()) {
    routes_->settings = std::move(settings);
    std::string reason;
    routes_->address =
        parse_listen_address(routes_->settings.listen, reason).value_or(ListenAddress{});
    routes_->token = std::move(token);
    const Asset* index = find_asset("/index.html");
    routes_->page = index == nullptr ? std::string() : std::string(index->body);
    const size_t placeholder = routes_->page.find(kTokenPlaceholder);
    if (placeholder != std::string::npos) {
        routes_->page.replace(placeholder, std::strlen(kTokenPlaceholder), routes_->token);
    }
    routes_->install();
}

WebServer::~WebServer() = default;

std::string WebServer::bind() {
    errno = 0;
    if (!routes_->server.bind_to_port(routes_->address.host, routes_->address.port)) {
        return "cannot listen on " + routes_->settings.listen + ": " +
               (errno != 0 ? std::strerror(errno) : "the address cannot be bound");
    }
    return "";
}

void WebServer::serve() {
    routes_->server.listen_after_bind();
}

bool WebServer::running() const {
    return routes_->server.is_running();
}

void WebServer::stop() {
    routes_->server.stop();
}

}  // namespace tarnel::web
