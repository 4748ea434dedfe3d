#include "config/log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <utility>

#include "config/printable_text.h"
#include "config/settings.h"
#include "config/stdio_file.h"
#include "config/wall_clock.h"

namespace tarnel {

size_t last_length = 0;
bool onscreen = false;
bool journal_console = false;
bool console_discarded = false;

namespace {

std::ostream* console_stream = &std::cout;
// See set_thread_console().
thread_local std::ostream* thread_console = nullptr;
std::vector<std::string>* captured_lines = nullptr;
std::vector<std::string>* copied_lines = nullptr;
// The log file whose failure was reported; empty while lines reach it.
std::string failing_log_file;

// Pads with spaces over whatever is left of a longer text written before on the same line.
void blank_rest(std::ostream& out, size_t length) {
    while (last_length > length) {
        out << ' ';
        --last_length;
    }
}

// One log line on the console: bare to the journal, otherwise time-stamped over whatever status
// line is on screen.
void echo(const std::string& stamp, const std::string& message) {
    if (console_discarded) {
        return;  // nothing to write the console text for
    }
    std::ostream& out = console();
    if (journal_console) {
        out << message << '\n' << std::flush;
        return;
    }
    if (!onscreen) {
        out << '\r';
    }
    onscreen = true;
    out << stamp << message;
    blank_rest(out, message.size());
    out << '\n' << std::flush;
    last_length = message.size();
}

// Appends one line to the log file; returns an empty string, or why it could not.
std::string append_to_log_file(const std::string& line) {
    // Opened and closed for every line, so a deleted or emptied log file is simply recreated by
    // the next line; the whole line goes out in one write.
    const StdioFile file = open_log_file(logfile);
    if (!file) {
        return open_failure_text(errno);
    }
    if (std::fwrite(line.data(), 1, line.size(), file.get()) != line.size() ||
        std::fflush(file.get()) != 0) {
        return std::strerror(errno);
    }
    return "";
}

// A log file that cannot be written is said once on the console (which the journal keeps when
// Tarnel runs as a service), even with ScreenLog off, and again only after a line has reached it
// or the path has changed.
void report_log_file(const std::string& stamp, const std::string& failure) {
    if (failure.empty()) {
        failing_log_file.clear();
    } else if (failing_log_file != logfile) {
        failing_log_file = logfile;
        std::string warning = "Warning: could not write the log file " + logfile + ": " + failure;
        replace_control_characters(warning);
        echo(stamp, warning);
    }
}

}  // namespace

std::ostream& console() {
    return thread_console != nullptr ? *thread_console : *console_stream;
}

void set_thread_console(std::ostream* stream) {
    thread_console = stream;
}

void set_console(std::ostream* stream) {
    console_stream = stream != nullptr ? stream : &std::cout;
}

void reset_console_state() {
    last_length = 0;
    onscreen = false;
    journal_console = false;
    console_discarded = false;
    failing_log_file.clear();
}

bool stdout_is_journal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat output {};
    if (stream == nullptr || fstat(STDOUT_FILENO, &output) != 0) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == output.st_dev &&
           inode == output.st_ino;
}

bool stdout_is_discarded() {
    struct stat output {};
    struct stat null_device {};
    return fstat(STDOUT_FILENO, &output) == 0 && S_ISCHR(output.st_mode) &&
           stat("/dev/null", &null_device) == 0 && S_ISCHR(null_device.st_mode) &&
           output.st_rdev == null_device.st_rdev;
}

std::string time_stamp() {
    // The precise clock, so a line written at or after a tick carries that tick's second.
    const std::time_t now = wall_clock_second();
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[40];
    const size_t written = std::strftime(buffer, sizeof buffer, "<%m/%d/%Y@%H:%M:%S> ", &local);
    return std::string(buffer, written);
}

void set_log_capture(std::vector<std::string>* lines) {
    captured_lines = lines;
}

void set_log_copy(std::vector<std::string>* lines) {
    copied_lines = lines;
}

void nsv_log(std::string message) {
    // A title or a file name must not start a line of its own, nor send a terminal commands.
    replace_control_characters(message);
    if (captured_lines != nullptr) {
        captured_lines->push_back(std::move(message));
        return;
    }
    if (copied_lines != nullptr) {
        copied_lines->push_back(message);
    }
    const std::string stamp = time_stamp();
    if (screenlog) {
        echo(stamp, message);
    }
    if (logfile != "NULL") {
        report_log_file(stamp, append_to_log_file(stamp + message + "\n"));
    }
}

void display(std::string status) {
    if (!realtime || journal_console || console_discarded) {
        return;
    }
    replace_control_characters(status);
    const std::string stamp = time_stamp();
    onscreen = false;
    std::ostream& out = console();
    out << '\r' << stamp << status;
    blank_rest(out, status.size());
    out << std::flush;
    last_length = status.size();
}

}  // namespace tarnel
