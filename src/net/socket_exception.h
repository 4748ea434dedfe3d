#pragma once

#include <string>
#include <utility>

namespace tarnel {

// The one failure type of the network layer and the server log-in. Callers tell failures apart
// only by the fixed text it carries. Thrown by value, caught by reference.
class SocketException {
  public:
    explicit SocketException(std::string text) : text_(std::move(text)) {}

    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

}  // namespace tarnel
