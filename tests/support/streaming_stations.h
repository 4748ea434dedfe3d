#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/icecast_server.h"
#include "support/tarnel_run.h"
#include "support/temp_dir.h"

namespace tarnel::test {

// Two real stations (build/tarnel) streaming to a private Icecast, laid out the way tarnel-web
// finds the stations of a machine: a run directory with one folder per station holding its
// status file and control socket (ControlSocket=). Station "one" uses the legacy source protocol to
// the mount /stream, station "two" Icecast's own protocol to /tarnel.nsv; each plays two clips,
// titled "NAME first" (first_seconds long) and "NAME second" (second_seconds long).
class StreamingStations {
  public:
    StreamingStations(int first_seconds, int second_seconds);
    ~StreamingStations();
    StreamingStations(const StreamingStations&) = delete;
    StreamingStations& operator=(const StreamingStations&) = delete;

    // Makes the clips and starts Icecast and both stations; false (with what went wrong in
    // diagnostics) when a step failed.
    bool start(std::string& diagnostics);
    // Until both status files say "streaming" with a title.
    bool wait_until_streaming(int timeout_ms) const;

    static std::vector<std::string> names() { return {"one", "two"}; }
    std::string run_dir() const { return run_dir_.path(); }
    IcecastServer& icecast() { return *icecast_; }
    std::string mount_of(const std::string& name) const;
    std::string status_file(const std::string& name) const;
    std::string logs() const;

  private:
    int first_seconds_;
    int second_seconds_;
    TempDir media_;
    TempDir run_dir_;
    std::unique_ptr<IcecastServer> icecast_;
    std::vector<std::unique_ptr<TarnelRun>> stations_;
};

// The title Icecast's /status-json.xsl shows for the source on mount, or an empty string.
std::string mount_title(const std::string& status_json, const std::string& mount);

}  // namespace tarnel::test
