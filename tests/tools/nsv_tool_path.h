#pragma once

#include <string>

namespace tarnel::test {

// build/tarnel-nsv, found beside the tarnel binary.
inline std::string nsv_tool_path() {
    const std::string tarnel = TARNEL_BINARY;
    return tarnel.substr(0, tarnel.find_last_of('/') + 1) + "tarnel-nsv";
}

}  // namespace tarnel::test
