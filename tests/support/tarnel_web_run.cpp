#include "support/tarnel_web_run.h"

#include <httplib.h>
#include <sys/stat.h>

#include "support/loopback_listener.h"

namespace tarnel::test {

int free_loopback_port() {
    const Descriptor listener = listen_on(0);
    return local_port(listener);
}

TarnelWebRun::TarnelWebRun(const std::string& run_dir, const std::string& config_text,
                           const std::vector<std::string>& extra_args)
    : port_(free_loopback_port()) {
    std::vector<std::string> args = {"--listen", "127.0.0.1:" + std::to_string(port_), "--run-dir",
                                     run_dir};
    // The machine's own configuration file is never read by a test.
    const std::string config = dir_.write("web.conf", config_text);
    chmod(config.c_str(), 0640);  // it may hold a password
    args.insert(args.end(), {"--config", config});
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    process_ =
        std::make_unique<Process>(TARNEL_WEB_BINARY, args, dir_.path(), dir_.file("output.txt"));
}

TarnelWebRun::~TarnelWebRun() = default;

bool TarnelWebRun::ready() {
    return wait_until([this] { return process_->running() && connect_loopback(port_).get() >= 0; },
                      10000);
}

std::string TarnelWebRun::output() const {
    return read_file(dir_.file("output.txt"));
}

WebReply TarnelWebRun::request(const std::string& method, const std::string& path,
                               const std::map<std::string, std::string>& headers,
                               const std::string& body) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(30));
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.set_header("Host", "127.0.0.1:" + std::to_string(port_));
    for (const auto& [name, value] : headers) {
        request.headers.erase(name);
        request.set_header(name, value);
    }
    if (!body.empty()) {
        request.body = body;
        request.set_header("Content-Type", "application/json");
    }
    const httplib::Result result = client.send(request);
    WebReply reply;
    if (result) {
        reply.status = result->status;
        reply.body = result->body;
        for (const auto& [name, value] : result->headers) {
            std::string lower = name;
            for (char& c : lower) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            reply.headers[lower] = value;
        }
    }
    return reply;
}

std::string TarnelWebRun::page_token() const {
    const std::string page = request("GET", "/").body;
    const std::string before = "<meta name=\"tarnel-token\" content=\"";
    const size_t start = page.find(before);
    if (start == std::string::npos) {
        return "";
    }
    const size_t at = start + before.size();
    const size_t end = page.find_first_not_of("0123456789abcdef", at);
    return end != std::string::npos && end > at && page.compare(end, 2, "\">") == 0
               ? page.substr(at, end - at)
               : std::string();
}

WebReply TarnelWebRun::api(const std::string& method, const std::string& path,
                           const std::string& body) const {
    return request(method, path, {{"X-Tarnel-Token", page_token()}}, body);
}

}  // namespace tarnel::test
