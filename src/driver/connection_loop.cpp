#include "driver/connection_loop.h"

#include "config/log.h"
#include "driver/source_connection.h"
#include "net/socket_exception.h"

namespace tarnel {

int run_connection_loop(DriverState& state) {
    try {
        const ClientSocket connection = open_source_connection();
    } catch (const SocketException& error) {
        state.file_title.clear();
        nsv_log("Error: " + error.text());
    }
    return 0;
}

}  // namespace tarnel
