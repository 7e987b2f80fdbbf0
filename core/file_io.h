// Whole-file text input and output for pattern files and result files.
#pragma once

// Reads the whole file at `path` in binary mode. Returns a new buffer of size + 1 bytes (the
// file and a zero byte; an empty file gives ""), or null after reporting "Error opening file",
// "Error allocating memory for file" or "Error reading file". The caller releases it (free).
char* load_file(const char* path);

// Like load_file, also giving the number of bytes read (the text may hold zero bytes).
char* load_file_sized(const char* path, unsigned long* size);

// Writes `text` (without its terminator) to `path`. The text goes to a temporary file in the
// same folder that then replaces the target, so a failure leaves an existing file as it was.
// Returns 1, or 0 after reporting "Error opening file" or "Error writing file".
int save_file(const char* path, const char* text);
