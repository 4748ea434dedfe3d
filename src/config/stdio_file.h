#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace tarnel {

struct StdioCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Sole owner of an open stdio stream; closing happens in the destructor on every path.
using StdioFile = std::unique_ptr<std::FILE, StdioCloser>;

inline StdioFile open_file(const std::string& path, const char* mode) {
    return StdioFile(std::fopen(path.c_str(), mode));
}

// Every file the program reads or writes by name is opened without blocking and taken only when
// it is a regular file: open() of a FIFO that no one writes (or reads) blocks for ever, and a
// source like /dev/zero never ends. The type is checked on the open descriptor, then blocking is
// switched back on. A file that is not regular is refused with errno EISDIR (a directory) or
// EINVAL (a FIFO, a socket, a device).

// Opens path for reading ("r").
StdioFile open_regular_file(const std::string& path);
// The same; when it fails, failure says why (open_failure_text).
StdioFile open_regular_file(const std::string& path, std::string& failure);

// Why one of the opens here failed, from its errno: "a directory, not a file", "not a regular
// file", "a symbolic link, which is not followed" (a log file), or the system's text ("Permission
// denied").
std::string open_failure_text(int error);
// The same; when it fails, failure says why (open_failure_text).
StdioFile open_regular_file(const std::string& path, std::string& failure);

// Why one of the opens here failed, from its errno: "a directory, not a file", "not a regular
// file", "a symbolic link, which is not followed" (a log file), or the system's text ("Permission
// denied").
std::string open_failure_text(int error);

// A path as a message shows it: a relative one with the working directory it is resolved from
// ("playlist.plo (in /var/lib/tarnel/news)"), so a reader knows which file was meant.
std::string path_for_message(const std::string& path);

// Opens the log file for appending ("a"), or empties it (truncate), creating it when missing
// with the mode fopen gives (0666 less the umask). A symbolic link as the path's last part is not
// followed (O_NOFOLLOW, errno ELOOP): a link that another user planted in a shared directory must
// not make the program append to, or empty, a file of its choice.
StdioFile open_log_file(const std::string& path, bool truncate = false);

// Creates a new file named prefix followed by six random letters and digits, open for writing
// ("w"), and sets name to its name. Only a name that does not exist is taken (O_EXCL), so a link
// or a FIFO planted at a name that could be guessed is never opened; the mode is the one fopen
// gives. Nothing (errno set) when no new file could be made.
StdioFile create_unique_file(const std::string& prefix, std::string& name);

// A path as a message shows it: a relative one with the working directory it is resolved from
// ("playlist.plo (in /var/lib/tarnel/news)"), so a reader knows which file was meant.
std::string path_for_message(const std::string& path);

}  // namespace tarnel
