#pragma once

#include <string_view>

namespace tarnel {

// The DER of the subject name (tag and length included) in the DER of an X.509 certificate, as a
// view into der; empty when der does not start with a certificate whose fields up to the subject
// are well formed. Only the framing is read: nothing is decoded, so a bundle of a hundred and more
// certificates is indexed without the cost of decoding each one's public key.
std::string_view certificate_subject(std::string_view der);

}  // namespace tarnel
