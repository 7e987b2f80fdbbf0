// The few operating-system services the core needs beyond the C library. Each platform file
// (system_posix.cpp, system_win32.cpp) implements all of them; CMake picks the one to build.
#pragma once

#include <cstdint>
#include <cstdio>

// Opens an existing file for binary reading, like fopen(path, "rb"), but without waiting: a
// named pipe that no program writes to opens at once (and then fails to seek) instead of
// blocking the caller until a writer comes. Returns the stream, or null.
FILE* system_file_open_read(const char* path);

// Opens `target` for binary writing in place when it exists and is neither a regular file nor
// a folder: a device such as /dev/null or NUL, a named pipe, a terminal. Such a file cannot be
// replaced by renaming a new file over it, and must not be. A named pipe that no program reads
// from within a second is refused instead of waiting for a reader. Sets *special to 1 for such a
// target (the stream, or null when it cannot be opened) and to 0 for any other path (null: use a
// temporary file and replace the target).
FILE* system_special_file_open(const char* target, int* special);

// Creates a new, empty file for binary writing in the folder of `target`, under a name that
// no other file has. Returns the open stream and stores its name (malloc'd) in *temp_path, or
// returns null. When `target` exists, the new file takes over its permission bits.
FILE* system_temp_file_create(const char* target, char** temp_path);

// Pushes what the stream has written to the disk. Returns 1, or 0 when that fails.
int system_file_commit(FILE* file);

// Replaces `target` by the file `source` in one step: readers see the old or the new file,
// never a mixture. Returns 1, or 0 when that fails (both files then stay as they were).
int system_file_replace(const char* source, const char* target);

// The system's text for error number `error` (as system_last_error gives it, or a file
// function's system_error), on one line, in `buffer` of `size` bytes. Returns `buffer`.
const char* system_error_text_of(uint32_t error, char* buffer, uint32_t size);

// Reads the file at `path` to its end even when it cannot be sized beforehand: a named pipe
// or a process substitution is read until its writer closes it. A pipe that no program writes
// to within about a second is refused instead of waited for. At most `limit` bytes are taken.
//   data, size: on success a new buffer (release with free) of size + 1 bytes, zero-terminated.
//   system_error: receives the system's error number on failure (0 when there is none).
// Returns 1 on success; 0 when the file cannot be opened; -4 when it opened but could not be
// read (a folder); -1 when the file holds more than `limit` bytes; -2 when
// nobody writes to the pipe; -3 when memory ran out.
int system_stream_read_all(const char* path, uint32_t limit, char** data, uint32_t* size,
                           uint32_t* system_error);
