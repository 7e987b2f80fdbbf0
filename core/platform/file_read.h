// Reading parts of a large file at 64-bit offsets, for disc images of several gigabytes that are
// never read whole. Each platform file (file_read_posix.cpp, file_read_win32.cpp) implements all
// of them; CMake picks the one to build.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileReader; // an open file, owned by the caller until file_reader_close

// Opens the regular file at `path` for reading without waiting (a named pipe or a device is
// refused at once). Returns the open file and stores its size in *size, or returns null.
FileReader* file_reader_open(const char* path, uint64_t* size);

// Reads `size` bytes at `offset` into `out`. Returns 1 when all of them were read, else 0.
int file_reader_read_at(FileReader* file, uint64_t offset, void* out, size_t size);

// Closes the file. Null is ignored.
void file_reader_close(FileReader* file);
