#pragma once

// What the terminal front end needs of the operating system, one source file
// per platform chosen at configure time: system_io_posix.cpp, and
// system_io_win32.cpp for Windows, where the command line and file names are
// wide text and the console has a code page of its own.
//
// Paths are the bytes the command line gave on POSIX systems and UTF-8 on
// Windows, so that either is what the user typed and can be shown on the
// terminal as it is.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace sharelink::system_io {

// The program's arguments after its name, as UTF-8 (on POSIX systems, the
// bytes as given; on Windows, read from the wide command line, since the ANSI
// code page may not hold a Chinese share message).
std::vector<std::string> arguments(int argc, char** argv);

// Readies the standard streams for the job's bytes: on Windows, binary mode
// (the log's CR LF must not become CR CR LF) and UTF-8 output and, where the
// console allows it, escape sequences on a console, both put back at exit.
void prepare_standard_streams();

// Whether stream is a terminal that keeps a status line: one that takes "\r"
// and "\x1b[K".
bool keeps_status_line(std::FILE* stream);

// The next line of in with its line end as UTF-8; nullopt at the end of input
// before any byte of a line. Typed on a Windows console, the line is read as
// wide text, whatever the console's code page.
std::optional<std::string> read_line(std::FILE* in);

// Opens path for writing from its start; null, with the reason in error, when
// it cannot.
std::FILE* open_for_writing(const std::string& path, std::string& error);

// A new file in the temporary folder that only this user can read, named
// prefix, a part nobody can guess, and suffix, open for writing; its path in
// path. Null, with the reason in error, when none can be made.
std::FILE* create_temp_file(const std::string& prefix, const std::string& suffix, std::string& path,
                            std::string& error);

// Removes the file at path (a NUL-terminated path as the functions above gave
// it). Safe where remove_on_stop's cleanup runs.
void remove_file(const char* path);

// Has cleanup run when the user stops the program (Ctrl-C, a closed terminal,
// a termination request), before it ends the way it would have without.
// cleanup runs in a signal handler on POSIX systems: it may only do what is
// safe there.
void remove_on_stop(void (*cleanup)());

// After remove_on_stop: from now on the first Ctrl-C only turns interrupted()
// true, so that the program can end its work in order; the next one stops it
// as remove_on_stop says.
void take_first_interrupt();
bool interrupted();

}  // namespace sharelink::system_io
