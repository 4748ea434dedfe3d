#include "soak/stream_check.h"

namespace tarnel::test {

namespace {

bool starts_with_at(const std::string& stream, size_t at, const std::string& wire) {
    return !wire.empty() && stream.size() - at >= wire.size() &&
           stream.compare(at, wire.size(), wire) == 0;
}

// Whether the rest of the stream from at is a beginning of wire.
bool rest_is_prefix_of(const std::string& stream, size_t at, const std::string& wire) {
    const size_t rest = stream.size() - at;
    return rest < wire.size() && wire.compare(0, rest, stream, at, rest) == 0;
}

}  // namespace

StreamTally& StreamTally::operator+=(const StreamTally& other) {
    complete_files += other.complete_files;
    skipped_files += other.skipped_files;
    interrupted_files += other.interrupted_files;
    verified_bytes += other.verified_bytes;
    if (mismatches == 0 && other.mismatches > 0) {
        mismatch_offset = other.mismatch_offset;
    }
    mismatches += other.mismatches;
    return *this;
}

StreamTally check_stream(const std::string& stream, const std::vector<FileWires>& files) {
    StreamTally tally;
    size_t at = 0;
    while (at < stream.size()) {
        bool matched = false;
        for (const FileWires& file : files) {
            if (starts_with_at(stream, at, file.whole)) {
                ++tally.complete_files;
                tally.verified_bytes += file.whole.size();
                at += file.whole.size();
                matched = true;
                break;
            }
        }
        for (size_t f = 0; f < files.size() && !matched; ++f) {
            for (const std::string& wire : files[f].skipped) {
                if (starts_with_at(stream, at, wire)) {
                    ++tally.skipped_files;
                    at += wire.size();
                    matched = true;
                    break;
                }
            }
        }
        if (matched) {
            continue;
        }
        for (const FileWires& file : files) {
            bool prefix = rest_is_prefix_of(stream, at, file.whole);
            for (size_t k = 0; k < file.skipped.size() && !prefix; ++k) {
                prefix = rest_is_prefix_of(stream, at, file.skipped[k]);
            }
            if (prefix) {
                ++tally.interrupted_files;
                return tally;
            }
        }
        tally.mismatches = stream.size() - at;
        tally.mismatch_offset = at;
        return tally;
    }
    return tally;
}

}  // namespace tarnel::test
