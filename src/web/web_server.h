#pragma once

#include <memory>
#include <string>

#include "web/web_settings.h"

namespace tarnel::web {

// The HTTP side of tarnel-web:
//   GET /                 the page (its script and style at /app.js and /app.css)
//   GET /metrics          Prometheus' text format
//   GET /api/stations     the page's data
//   GET /api/stations/NAME/files?path=P   the file picker: folders and NSV files under the
//                         station's directory
//   POST /api/stations/NAME/skip|queue|play|title, DELETE /api/stations/NAME/queue/N
//                         forwarded to the station's control socket
// Every /api/ request must carry the page's token (X-Tarnel-Token). With User= and Password=
// every request needs them (basic authentication); while it listens on loopback only, a Host
// header must name loopback.
class WebServer {
  public:
    WebServer(WebSettings settings, std::string token);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds the listen address; on failure returns the reason.
    std::string bind();
    // Serves until stop() is called (from another thread).
    void serve();
    // Whether serve() has started accepting connections.
    bool running() const;
    void stop();

  private:
    struct Routes;
    std::unique_ptr<Routes> routes_;
};

}  // namespace tarnel::web
