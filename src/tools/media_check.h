#pragma once

#include <string>
#include <vector>

#include "tools/station_report.h"

namespace tarnel {

// Opens a playlist entry the way the streaming reader opens it (a regular file, resolved from
// the working directory), walks its frames without reading payloads, and returns its facts.
// What is wrong with the file is appended to findings.
MediaFacts check_media(const std::string& entry, std::vector<Finding>& findings);

// Why a path cannot be opened as a regular file for reading ("No such file or directory", ...).
std::string open_failure(const std::string& path);

}  // namespace tarnel
