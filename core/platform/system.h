// The few operating-system services the core needs beyond the C library. Each platform file
// (system_posix.cpp, system_win32.cpp) implements all of them; CMake picks the one to build.
#pragma once

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
