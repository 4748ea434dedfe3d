// libFuzzer target: arbitrary bytes opened as an NSV file and read in the driver's calling order
// (Open, GetHeader, then GetSecond / GetFileInfo / GetData until GetSecond returns -1), with
// random subtitle texts, display times, colours and skip flags. The output buffer is exactly
// length + L + 31 bytes, so AddressSanitizer sees any write beyond it. The same file is played
// twice in a row, the second time with the process-wide state the first left behind, and every
// second is compared with the reference model of tests/support/nsv_expected.h. The header's title
// is taken as the driver takes it, and must come out at most 1 KiB long, cut at a character
// boundary, and free of control characters once made printable for the log and the status.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "config/log.h"
#include "config/printable_text.h"
#include "driver/file_streamer.h"
#include "nsv/nsv_reader.h"
#include "support/nsv_expected.h"

namespace {

using tarnel::test::ExpectedFile;
using tarnel::test::SecondOffer;

const std::string& scratch_path() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/nsv-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            std::abort();
        }
        close(fd);
        std::atexit([] { std::remove(scratch_path().c_str()); });
        return pattern;
    }();
    return path;
}

void fail(const char* what, size_t second) {
    std::fprintf(stderr, "nsv_reader_fuzz: %s (second %zu)\n", what, second);
    std::abort();
}

// The title as the driver takes it from the header, and as every sink writes it.
void check_title(const std::string& metadata) {
    const std::optional<std::string> raw = tarnel::metadata_value(metadata, "TITLE=");
    if (!raw) {
        return;
    }
    const std::string title = tarnel::cut_header_value(*raw).value_or(*raw);
    // Cut to at most 1 KiB, at most the three bytes of a character short of it.
    if (title.size() > tarnel::kMaxTitleBytes || raw->compare(0, title.size(), title) != 0 ||
        (title.size() < raw->size() && title.size() + 3 < tarnel::kMaxTitleBytes)) {
        fail("the title is cut wrongly", 0);
    }
    const std::string shown = tarnel::printable_text(title);
    if (tarnel::has_control_characters(shown) || shown.find_first_of("\r\n\x1b") != std::string::npos ||
        shown.size() > title.size()) {
        fail("a printable title holds a control character", 0);
    }
    if (!tarnel::has_control_characters(title) && shown != title) {
        fail("a title without control characters was changed", 0);
    }
}

// Plays the file like the driver and checks it against the model.
void play(const std::string& path, const std::string& bytes, const std::vector<SecondOffer>& offers,
          bool debug, tarnel::test::NsvProcessState& model_state) {
    const ExpectedFile expected = tarnel::test::expected_stream(bytes, offers, model_state);

    tarnel::NSVReader reader(debug);
    if (!reader.Open(path)) {
        std::abort();
    }
    std::string metadata;
    const bool has_header = reader.GetHeader(&metadata);
    if (has_header != expected.has_header || (has_header && metadata != expected.metadata)) {
        fail("header differs from the model", 0);
    }
    if (has_header) {
        check_title(metadata);
    }
    char line_buffer[256];
    for (size_t index = 0;; ++index) {
        long start = 0;
        long length = 0;
        double rate = 0;
        int frames = 0;
        if (reader.GetSecond(line_buffer, &start, &length, &rate, &frames, 0) != 0) {
            if (index != expected.seconds.size()) {
                fail("fewer seconds than the model", index);
            }
            return;
        }
        if (index >= expected.seconds.size()) {
            fail("more seconds than the model", index);
        }
        const auto& want = expected.seconds[index];
        if (start != want.start || length != want.length || rate != want.framerate ||
            frames != want.frames) {
            fail("scan differs from the model", index);
        }
        char video[5];
        char audio[5];
        int height = 0;
        int width = 0;
        reader.GetFileInfo(video, audio, &height, &width);
        if (video != want.video_format || audio != want.audio_format || height != want.height ||
            width != want.width) {
            fail("file info differs from the model", index);
        }
        const SecondOffer offer = index < offers.size() ? offers[index] : SecondOffer{};
        bool next_track = offer.next_track;
        const size_t size = static_cast<size_t>(length) + offer.subtitle.size() + 31;
        std::unique_ptr<char[]> buffer(new char[size]);
        const int sent = reader.GetData(buffer.get(), length, &next_track, offer.subtitle,
                                        offer.style.display_time, offer.style.x, offer.style.y,
                                        offer.style.red, offer.style.green, offer.style.blue);
        if (next_track) {
            fail("next-track flag not cleared", index);
        }
        if (sent != want.data_result ||
            std::string(buffer.get(), static_cast<size_t>(sent > 0 ? sent : 0)) != want.wire) {
            fail("data differs from the model", index);
        }
        if (offer.next_track) {
            return;  // the driver leaves the file after this second
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const uint32_t seed = provider.ConsumeIntegral<uint32_t>();
    const bool debug = provider.ConsumeBool();
    const std::string bytes = provider.ConsumeRemainingBytesAsString();

    std::FILE* out = std::fopen(scratch_path().c_str(), "wb");
    if (out == nullptr) {
        std::abort();
    }
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);

    std::minstd_rand random(seed);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    std::vector<SecondOffer> offers(64);
    for (SecondOffer& offer : offers) {
        if (pick(0, 2) == 0) {
            offer.subtitle.resize(static_cast<size_t>(pick(1, 64)));
            for (char& c : offer.subtitle) {
                c = static_cast<char>(pick(0, 255));
            }
        } else if (pick(0, 50) == 0) {
            offer.subtitle.assign(static_cast<size_t>(pick(65500, 65520)), 'L');
        }
        offer.style = {pick(-1000, 1000), pick(-300, 300), pick(-300, 300),
                       pick(0, 600),      pick(0, 600),    pick(0, 600)};
        offer.next_track = pick(0, 20) == 0;
    }

    // Debug traces are formatted but go nowhere.
    static std::ostream discard(nullptr);
    tarnel::set_console(&discard);

    tarnel::reset_nsv_state();
    tarnel::test::NsvProcessState model_state;
    for (int round = 0; round < 2; ++round) {
        play(scratch_path(), bytes, offers, debug, model_state);
        if (tarnel::hex_video_sz != model_state.last_video_length ||
            tarnel::hex_audio_sz != model_state.last_audio_length ||
            tarnel::frames_wait != model_state.frames_wait) {
            fail("process-wide state differs from the model", 0);
        }
    }
    return 0;
}
