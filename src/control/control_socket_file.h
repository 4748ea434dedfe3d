#pragma once

#include <sys/types.h>

#include <string>
#include <utility>

#include "config/unique_descriptor.h"

namespace tarnel {

// Why the control socket could not be had; text is a reason for the operator.
class ControlSocketError {
  public:
    explicit ControlSocketError(std::string text) : text_(std::move(text)) {}
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// A listening Unix stream socket and the file it is bound to.
struct ClaimedSocket {
    UniqueDescriptor listener;  // non-blocking, close-on-exec
    dev_t device = 0;           // of the socket file, so that only this one is ever removed
    ino_t inode = 0;
};

// Listens on a Unix stream socket at path that only its owner and group may use (mode 0660). A
// socket file there that nothing answers on (left by a station that was killed) is replaced. A
// socket that another process answers on, or a file that is not a socket, is left alone and
// refused. Throws ControlSocketError with the reason.
ClaimedSocket claim_control_socket(const std::string& path);

// Removes the socket file at path when it is still the one claimed (not one that another station
// has put there since).
void release_control_socket(const std::string& path, const ClaimedSocket& claimed);

}  // namespace tarnel
