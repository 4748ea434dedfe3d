#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tarnelctl/command_line.h"

namespace tarnel::ctl {

// What a person is shown for the station's successful reply (body) to the invocation: lines of
// text, each ending in a line feed. Values the reply lacks are shown as "-".
std::string text_for_people(const Invocation& invocation, const nlohmann::json& body);

// What --json prints for the reply: the body, indented; for next, only {"next": ...}.
std::string json_for_programs(const Invocation& invocation, const nlohmann::json& body);

}  // namespace tarnel::ctl
