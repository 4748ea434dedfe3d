#pragma once

#include <optional>
#include <string>

#include "driver/driver_state.h"
#include "driver/source_connection.h"

namespace tarnel {

// The text after the last "/" of a playlist entry, or the whole entry.
std::string base_name(const std::string& entry);

// The value of "TITLE=" or "URL=" in a file's metadata text: it starts one delimiter character
// after the key and ends at the next occurrence of that delimiter, or at the end of the text.
// Nothing when the key is missing or nothing follows it.
std::optional<std::string> metadata_value(const std::string& metadata, const std::string& key);

// Streams state.current_entry over the source connection, one second per wall-clock second, then
// advances the playlist position; the file's title goes to the server by the connection's title
// update first. Returns true when any of the file's data was sent. A failed send throws
// SocketException and leaves the position where it was.
bool stream_entry(DriverState& state, const SourceConnection& connection);

}  // namespace tarnel
