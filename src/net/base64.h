#pragma once

#include <string>
#include <string_view>

namespace tarnel {

// The standard Base64 encoding of bytes (RFC 4648, with "=" padding), as HTTP's basic
// credentials are written.
std::string base64_encode(std::string_view bytes);

}  // namespace tarnel
