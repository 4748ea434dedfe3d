#pragma once

#include <string>

#include "net/socket_exception.h"

namespace tarnel::test {

// The text of the SocketException that action throws, or "" when it throws none.
template <typename Action>
std::string failure_of(Action action) {
    try {
        action();
    } catch (const SocketException& error) {
        return error.text();
    }
    return "";
}

}  // namespace tarnel::test
