// Windows services of the core: GetLastError, FormatMessageA and MoveFileExA.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "core/file_map.h"
#include "core/platform/system.h"
#include "core/report.h"
#include "core/trace.h"

uint32_t system_last_error() {
    return static_cast<uint32_t>(GetLastError());
}

void system_set_last_error(uint32_t error) {
    SetLastError(static_cast<DWORD>(error));
}

// A copy in LocalAlloc memory, so that every allocated text is released the same way.
static const char* local_copy_or_fixed(const char* text, bool* allocated) {
    size_t length = strlen(text) + 1;
    char* copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, length));
    if (!copy) {
        *allocated = false;
        return text;
    }
    memcpy(copy, text, length);
    *allocated = true;
    return copy;
}

const char* system_error_text(bool* allocated) {
    DWORD error = GetLastError();
    if (error == 0) {
        return local_copy_or_fixed("No Error", allocated);
    }
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || !text) {
        return local_copy_or_fixed("Unknown Error", allocated);
    }
    *allocated = true;
    return text;
}

void system_error_text_free(const char* text) {
    LocalFree(reinterpret_cast<HLOCAL>(const_cast<char*>(text)));
}

FILE* system_file_open_read(const char* path) {
    return fopen(path, "rb");
}

FILE* system_special_file_open(const char* target, int* special) {
    *special = 0;
    if (!target || !*target) {
        return nullptr;
    }
    // Only an existing file can be special; its type tells a disk file from NUL, CON or a pipe.
    HANDLE handle = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    *special = 1;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
    }
    return file;
}

FILE* system_temp_file_create(const char* target, char** temp_path) {
    *temp_path = nullptr;
    if (!target || !*target) {
        return nullptr;
    }
    size_t folder_length = 0;
    for (size_t i = 0; target[i]; ++i) {
        if (target[i] == '/' || target[i] == '\\' || target[i] == ':') {
            folder_length = i + 1;
        }
    }
    size_t size = folder_length + 64;
    char* path = static_cast<char*>(malloc(size));
    if (!path) {
        return nullptr;
    }
    static volatile LONG counter;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        unsigned serial = static_cast<unsigned>(InterlockedIncrement(&counter));
        memcpy(path, target, folder_length);
        snprintf(path + folder_length, size - folder_length, ".quarnel-%lu-%u.tmp",
                 static_cast<unsigned long>(GetCurrentProcessId()), serial);
        fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        free(path);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        DeleteFileA(path);
        free(path);
        return nullptr;
    }
    *temp_path = path;
    return file;
}

int system_file_commit(FILE* file) {
    return _commit(_fileno(file)) == 0 ? 1 : 0;
}

int system_file_replace(const char* source, const char* target) {
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

const char* system_error_text_of(uint32_t error, char* buffer, uint32_t size) {
    if (size == 0) {
        return buffer;
    }
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, size, nullptr);
    if (length == 0) {
        snprintf(buffer, size, "Unknown Error");
        return buffer;
    }
    // The system's texts end in a line break (and often a full stop before it).
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
        buffer[--length] = '\0';
    }
    return buffer;
}

int system_stream_read_all(const char* path, uint32_t limit, char** data, uint32_t* size,
                           uint32_t* system_error) {
    *data = nullptr;
    *size = 0;
    *system_error = 0;
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *system_error = GetLastError();
        return 0;
    }
    size_t capacity = 65536;
    size_t length = 0;
    char* buffer = static_cast<char*>(malloc(capacity));
    int result = buffer ? 1 : -3;
    while (result == 1) {
        if (capacity - length < 2) {
            char* grown =
                capacity > limit ? nullptr : static_cast<char*>(realloc(buffer, capacity * 2));
            if (!grown) {
                result = capacity > limit ? -1 : -3;
                break;
            }
            buffer = grown;
            capacity *= 2;
        }
        DWORD got = 0;
        if (!ReadFile(handle, buffer + length, static_cast<DWORD>(capacity - length - 1), &got,
                      nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_BROKEN_PIPE) {
                *system_error = error;
                result = -4;
            }
            break;
        }
        if (got == 0) {
            break;
        }
        length += got;
        if (length > limit) {
            result = -1;
        }
    }
    CloseHandle(handle);
    if (result != 1) {
        free(buffer);
        return result;
    }
    buffer[length] = '\0';
    *data = buffer;
    *size = static_cast<uint32_t>(length);
    return 1;
}

// A mapped file cannot be truncated on Windows while the mapping is open, so there is no fault
// to catch here.
FileMapStatus file_map_open(const char* path, FileMap* map, uint32_t* system_error) {
    *map = FileMap{nullptr, 0, -1, nullptr};
    *system_error = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *system_error = GetLastError();
        return FILE_MAP_OPEN_FAILED;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return FILE_MAP_NOT_REGULAR;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        *system_error = GetLastError();
        CloseHandle(file);
        return FILE_MAP_FAILED;
    }
    if (size.QuadPart >= 0x80000000LL) {
        CloseHandle(file);
        return FILE_MAP_TOO_LARGE;
    }
    if (size.QuadPart == 0) {
        CloseHandle(file);
        return FILE_MAP_OK;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        *system_error = GetLastError();
        CloseHandle(file);
        return FILE_MAP_FAILED;
    }
    void* data = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (!data) {
        *system_error = GetLastError();
        CloseHandle(mapping);
        CloseHandle(file);
        return FILE_MAP_FAILED;
    }
    // The view keeps the mapping, and the mapping the file, open.
    CloseHandle(mapping);
    map->handle = file;
    map->data = static_cast<const uint8_t*>(data);
    map->size = static_cast<uint32_t>(size.QuadPart);
    return FILE_MAP_OK;
}

bool file_map_damaged(const FileMap*) {
    return false;
}

void file_map_close(FileMap* map) {
    if (map->data) {
        UnmapViewOfFile(map->data);
    }
    if (map->handle) {
        CloseHandle(static_cast<HANDLE>(map->handle));
    }
    *map = FileMap{nullptr, 0, -1, nullptr};
}
