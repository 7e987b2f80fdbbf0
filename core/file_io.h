// Whole-file text input and output for pattern files and result files.
#pragma once

#include <cstdint>

// How a whole-file read ended.
enum FileReadStatus : uint32_t {
    FILE_READ_OK = 0,
    FILE_READ_OPEN_FAILED = 1, // the file cannot be opened
    FILE_READ_TOO_LARGE = 2,   // its size cannot be told, or is 2 GiB or more
    FILE_READ_NO_MEMORY = 3,   // the buffer cannot be allocated
    FILE_READ_FAILED = 4,      // the read did not deliver the whole file
};

// Reads the whole file at `path` in binary mode into a new buffer of size + `extra` bytes, the
// `extra` bytes after the content set to zero. Shows no message. On FILE_READ_OK *data (release
// with free) and *size are set; otherwise *data is null.
FileReadStatus file_read_all(const char* path, uint32_t extra, char** data, uint32_t* size);

// Reads the whole file at `path` in binary mode. Returns a new buffer of size + 1 bytes (the
// file and a zero byte; an empty file gives ""), or null after reporting "Error opening file",
// "Error allocating memory for file" or "Error reading file". The caller releases it (free).
char* load_file(const char* path);

// Like load_file, also giving the number of bytes read (the text may hold zero bytes).
char* load_file_sized(const char* path, unsigned long* size);

// How a whole-file write ended.
enum FileWriteStatus : uint32_t {
    FILE_WRITE_OK = 0,
    FILE_WRITE_OPEN_FAILED = 1, // the file (or its temporary neighbour) cannot be created
    FILE_WRITE_FAILED = 2,      // writing, flushing or replacing failed; the target is unchanged
};

// Writes `length` bytes of `text` to `path` as save_file does, but shows no message.
//   system_error: receives the system's error number on failure (0 when unknown).
// Returns a FileWriteStatus.
FileWriteStatus file_write_all(const char* path, const char* text, uint32_t length,
                               uint32_t* system_error);

// Writes `text` (without its terminator) to `path`. The text goes to a temporary file in the
// same folder that then replaces the target, so a failure leaves an existing file as it was.
// Returns 1, or 0 after reporting "Error opening file" or "Error writing file".
int save_file(const char* path, const char* text);
