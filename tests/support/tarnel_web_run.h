#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {

// One HTTP reply as a client of tarnel-web sees it.
struct WebReply {
    int status = 0;  // 0: no reply
    std::string body;
    std::map<std::string, std::string> headers;  // names lower-cased
};

// A run of the real build/tarnel-web on a free loopback port, over a run directory, with a
// configuration file of its own (config_text; none when empty). Stopped by its PID at the end.
class TarnelWebRun {
  public:
    TarnelWebRun(const std::string& run_dir, const std::string& config_text = "",
                 const std::vector<std::string>& extra_args = {});
    ~TarnelWebRun();
    TarnelWebRun(const TarnelWebRun&) = delete;
    TarnelWebRun& operator=(const TarnelWebRun&) = delete;

    // Whether it accepts connections (waits up to 10 s).
    bool ready();
    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    Process& process() { return *process_; }
    std::string output() const;

    // A request with these headers (Host defaults to 127.0.0.1:port).
    WebReply request(const std::string& method, const std::string& path,
                     const std::map<std::string, std::string>& headers = {},
                     const std::string& body = "") const;
    // The token of the page (GET /), for /api/ requests.
    std::string page_token() const;
    // A request to /api/ with the page's token.
    WebReply api(const std::string& method, const std::string& path,
                 const std::string& body = "") const;

  private:
    TempDir dir_;
    int port_ = 0;
    std::unique_ptr<Process> process_;
};

// A free port on 127.0.0.1 (bound and released; another program could take it meanwhile).
int free_loopback_port();

}  // namespace tarnel::test
