// Writing a byte buffer (zero bytes allowed) to a file in one step.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `size` bytes to `path` like save_file: through a temporary file in the same folder
// that then replaces the target (a device or pipe is written directly), so a failure leaves an
// existing file as it was. Returns 1, or 0 after reporting "Error opening file" or "Error
// writing file".
int save_file_bytes(const char* path, const uint8_t* data, size_t size);
