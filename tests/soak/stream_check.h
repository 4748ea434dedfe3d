#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarnel::test {

// The wires one media file can put on a connection: the whole file, or the file ended by a skip
// request in second k (its first k + 1 seconds, the last with the end marker).
struct FileWires {
    std::string name;
    std::string whole;
    std::vector<std::string> skipped;  // [k]: skip request found in second k
};

// What one connection's stream was made of.
struct StreamTally {
    size_t complete_files = 0;     // matched a whole file byte for byte
    size_t skipped_files = 0;      // matched a file ended by a skip
    size_t interrupted_files = 0;  // the connection ended inside a file (a prefix of its wire)
    size_t verified_bytes = 0;     // bytes of complete files
    size_t mismatches = 0;         // bytes that are none of the above
    size_t mismatch_offset = 0;    // where the first mismatch starts

    StreamTally& operator+=(const StreamTally& other);
};

// Cuts a stream into files, front to back: at each point the whole wire of one of the files, or
// one of its skipped wires, must follow; the connection may end inside a file.
StreamTally check_stream(const std::string& stream, const std::vector<FileWires>& files);

}  // namespace tarnel::test
