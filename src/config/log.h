#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace tarnel {

// Console state shared by the log and the status line: the length of the text (without its time
// stamp) last written, and whether that was a complete log line rather than a status line.
extern size_t last_length;
extern bool onscreen;

// Set when standard output is the journal's stream (a service whose output goes to systemd's
// journal): log lines are then echoed bare, without time stamp, carriage return or padding, and
// the status line is not shown, since the journal stamps every line itself and keeps every byte.
extern bool journal_console;

// Whether standard output is the stream that JOURNAL_STREAM ("device:inode") names.
bool stdout_is_journal();

// Set when standard output is /dev/null (a station started in the background with its output
// thrown away): the console text of the log and the status line are then neither formatted nor
// written, since nobody can read them. The log file is written as always.
extern bool console_discarded;

// Whether standard output is /dev/null.
bool stdout_is_discarded();

// "<%m/%d/%Y@%H:%M:%S> " for the current local time: 22 characters.
std::string time_stamp();

// A time-stamped line to the log file (unless logfile is "NULL") and, with screenlog on, to the
// console, over whatever status line is on screen (or bare, to the journal). Control characters
// in message (see printable_text.h) are replaced, so a line is always one line. A log file that
// cannot be written is reported once on the console ("Warning: could not write the log file PATH:
// REASON"), and again only after a line has reached it or the path has changed.
void nsv_log(std::string message);

// While lines is set, nsv_log appends each message (without time stamp) to it and writes nothing
// else: neither the console nor the log file. For tools that run the loaders to check a station and
// must change no file. nullptr (the default) logs as usual.
void set_log_capture(std::vector<std::string>* lines);

// While lines is set (and no capture is), nsv_log also appends each message (without time stamp)
// to it, and writes the line as usual. nullptr (the default) stops the copying.
void set_log_copy(std::vector<std::string>* lines);

// Rewrites the one-line console status display when realtime is on (and the console is not the
// journal), with its control characters replaced; never touches the log file.
void display(std::string status);

// Where console output goes (standard output unless a test redirects it), and a reset of the
// console state (and of a reported log file failure) for tests.
std::ostream& console();
void set_console(std::ostream* stream);
void reset_console_state();

// Where console() goes for the calling thread alone (nullptr: as for every thread). The console,
// the log and the status line belong to the main thread; work on a thread of its own keeps
// what it would print here, and the main thread writes it out in its place.
void set_thread_console(std::ostream* stream);

}  // namespace tarnel
