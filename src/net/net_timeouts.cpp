#include "net/net_timeouts.h"

namespace tarnel {

NetTimeouts net_timeouts;

void reset_net_timeouts() {
    net_timeouts = NetTimeouts{};
}

}  // namespace tarnel
