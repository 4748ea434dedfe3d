// libFuzzer target: arbitrary bytes loaded as the configuration file by load_config (pieces of at
// most 254 characters, comment rules, every key), then one arbitrary line given straight to
// apply_config_line. Checks what must hold for any input: no setting holds a line end or more
// than one piece, Public is "1" or "0", the subtitle mode is one of the known codes, and a known
// key's text value is taken exactly as given.
// "LogFile=" in the input is turned into an unknown key, so that the fuzzer never makes the log
// write to a path it invented; the key itself is checked through apply_config_line with a value
// that is not used for writing afterwards.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

#include "config/config_file.h"
#include "config/log.h"
#include "config/settings.h"
#include "support/temp_dir.h"

namespace {

constexpr size_t kConfigLineChars = 254;

const tarnel::test::TempDir& scratch() {
    static const tarnel::test::TempDir dir;
    return dir;
}

void fail(const char* what, const std::string& value) {
    std::fprintf(stderr, "config_loader_fuzz: %s (%zu bytes)\n", what, value.size());
    std::abort();
}

void check_text(const std::string& value) {
    if (value.find('\n') != std::string::npos || value.find('\r') != std::string::npos) {
        fail("a setting holds a line end", value);
    }
    if (value.size() > kConfigLineChars) {
        fail("a setting is longer than one piece", value);
    }
}

void check_settings() {
    for (const std::string* text :
         {&tarnel::server, &tarnel::port, &tarnel::password, &tarnel::playlist, &tarnel::sub_x,
          &tarnel::sub_y, &tarnel::sub_red, &tarnel::sub_green, &tarnel::sub_blue, &tarnel::logfile,
          &tarnel::streamname, &tarnel::description, &tarnel::genre, &tarnel::bitrate, &tarnel::url,
          &tarnel::irc, &tarnel::icq, &tarnel::aim}) {
        check_text(*text);
    }
    if (tarnel::ispublic != "1" && tarnel::ispublic != "0") {
        fail("Public is neither 1 nor 0", tarnel::ispublic);
    }
    if (tarnel::subtitle_mode < tarnel::kSubtitleNone ||
        tarnel::subtitle_mode > tarnel::kSubtitleTag) {
        fail("unknown subtitle mode", std::to_string(tarnel::subtitle_mode));
    }
}

// Disarms every "LogFile=" (see the header comment).
std::string without_log_key(std::string bytes) {
    for (size_t at = bytes.find("LogFile="); at != std::string::npos;
         at = bytes.find("LogFile=", at)) {
        bytes[at + 3] = 'f';
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::ostream discard(nullptr);
    tarnel::set_console(&discard);

    FuzzedDataProvider provider(data, size);
    const std::string line = provider.ConsumeRandomLengthString(1024);
    const std::string file = without_log_key(provider.ConsumeRemainingBytesAsString());

    tarnel::reset_settings();
    tarnel::logfile = "NULL";
    tarnel::config_file = scratch().write("tarnel.conf", file);
    if (!tarnel::load_config()) {
        std::abort();  // the file was just written
    }
    tarnel::logfile = "NULL";
    check_settings();

    // One line straight to the key table: a known text key takes the rest of the line as is.
    const bool known = tarnel::apply_config_line(line);
    if (line.compare(0, 5, "Port=") == 0 && (!known || tarnel::port != line.substr(5))) {
        fail("Port= does not take the rest of the line", line);
    }
    if (line.compare(0, 8, "LogFile=") == 0 && (!known || tarnel::logfile != line.substr(8))) {
        fail("LogFile= does not take the rest of the line", line);
    }
    tarnel::logfile = "NULL";
    return 0;
}
