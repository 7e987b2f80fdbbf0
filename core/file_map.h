// A file mapped read-only into memory, for scanning large files without copying them. The
// platform files (system_posix.cpp, system_win32.cpp) implement it.
#pragma once

#include <cstdint>

// How opening a mapping ended.
enum FileMapStatus : uint32_t {
    FILE_MAP_OK = 0,
    FILE_MAP_OPEN_FAILED = 1, // the file cannot be opened (system_error tells why)
    FILE_MAP_NOT_REGULAR = 2, // a folder, a pipe or a device: nothing to map
    FILE_MAP_TOO_LARGE = 3,   // 2 GiB or more
    FILE_MAP_FAILED = 4,      // the mapping itself failed (system_error tells why)
};

struct FileMap {
    const uint8_t* data; // null for an empty file
    uint32_t size;
    int slot;     // the mapping's place in the fault table (POSIX), -1 when none
    void* handle; // the mapping object (Windows)
};

// Maps the file at `path` read-only. A pipe is not waited for.
//   map:          filled on FILE_MAP_OK (an empty file gives data null, size 0).
//   system_error: receives the system's error number on failure (0 when there is none).
// Returns a FileMapStatus. If the file shrinks while it is mapped, reading the lost part
// does not crash: it reads zeros and file_map_damaged turns true.
FileMapStatus file_map_open(const char* path, FileMap* map, uint32_t* system_error);

// True when part of the mapped file vanished (it was truncated) while it was mapped: whatever
// was read from it is not to be trusted.
bool file_map_damaged(const FileMap* map);

// Unmaps the file and zeroes the record. A zeroed record is ignored.
void file_map_close(FileMap* map);
