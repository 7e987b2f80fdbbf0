// POSIX services of the core: errno, strerror_r and rename.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/system.h"
#include "core/report.h"
#include "core/trace.h"

uint32_t system_last_error() {
    return static_cast<uint32_t>(errno);
}

void system_set_last_error(uint32_t error) {
    errno = static_cast<int>(error);
}

// strerror_r comes in two shapes (XSI returns int, GNU returns the text); accept either.
[[maybe_unused]] static const char* pick_error_text(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] static const char* pick_error_text(const char* result, const char*) {
    return result;
}

static const char* copy_or_fixed(const char* text, bool* allocated) {
    size_t length = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(length));
    if (!copy) {
        *allocated = false;
        return text;
    }
    memcpy(copy, text, length);
    *allocated = true;
    return copy;
}

const char* system_error_text(bool* allocated) {
    int error = errno;
    if (error == 0) {
        return copy_or_fixed("No Error", allocated);
    }
    char buffer[256];
    buffer[0] = '\0';
    const char* text = pick_error_text(strerror_r(error, buffer, sizeof buffer), buffer);
    if (!text || !*text) {
        return copy_or_fixed("Unknown Error", allocated);
    }
    return copy_or_fixed(text, allocated);
}

void system_error_text_free(const char* text) {
    free(const_cast<char*>(text));
}

// A stream over a descriptor opened non-blocking (so that opening a named pipe did not wait
// for the other end), with the usual blocking reads and writes restored. Closes `fd` on failure.
static FILE* stream_from_nonblocking(int fd, const char* mode) {
    if (fd < 0) {
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL);
    FILE* file =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, mode) : nullptr;
    if (!file) {
        close(fd);
    }
    return file;
}

FILE* system_file_open_read(const char* path) {
    return stream_from_nonblocking(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC), "rb");
}

FILE* system_special_file_open(const char* target, int* special) {
    struct stat info;
    *special =
        target && stat(target, &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
    if (!*special) {
        return nullptr;
    }
    // Non-blocking, so that a pipe without a reader fails (ENXIO) instead of hanging the caller;
    // a reader started beside the program gets a second to open its end. No O_TRUNC or O_CREAT:
    // the file is there and is written as it is.
    int fd = open(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    for (int wait = 0; fd < 0 && errno == ENXIO && wait < 100; ++wait) {
        usleep(10000);
        fd = open(target, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    return stream_from_nonblocking(fd, "wb");
}

// The file a symbolic link `target` leads to (malloc'd), or null when `target` is no link or
// leads nowhere. A save replaces that file, so that the link itself survives.
static char* link_resolve(const char* target) {
    struct stat link_info;
    return lstat(target, &link_info) == 0 && S_ISLNK(link_info.st_mode) ? realpath(target, nullptr)
                                                                        : nullptr;
}

FILE* system_temp_file_create(const char* target, char** temp_path) {
    *temp_path = nullptr;
    if (!target || !*target) {
        return nullptr;
    }
    char* resolved = link_resolve(target);
    const char* place = resolved ? resolved : target;
    mode_t mode = 0666;
    struct stat info;
    bool keep_mode = stat(place, &info) == 0 && S_ISREG(info.st_mode);
    if (keep_mode) {
        mode = info.st_mode & 07777;
    }
    const char* slash = strrchr(place, '/');
    size_t folder_length = slash ? static_cast<size_t>(slash - place) + 1 : 0;
    size_t size = folder_length + 64;
    char* path = static_cast<char*>(malloc(size));
    if (!path) {
        free(resolved);
        return nullptr;
    }
    static unsigned counter;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        unsigned serial = __atomic_fetch_add(&counter, 1, __ATOMIC_RELAXED);
        memcpy(path, place, folder_length);
        snprintf(path + folder_length, size - folder_length, ".quarnel-%ld-%u.tmp",
                 static_cast<long>(getpid()), serial);
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    free(resolved);
    if (fd < 0) {
        free(path);
        return nullptr;
    }
    if (keep_mode) {
        // The umask narrowed the mode given to open; the replaced file's bits win.
        (void)fchmod(fd, mode);
    }
    FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(path);
        free(path);
        return nullptr;
    }
    *temp_path = path;
    return file;
}

int system_file_commit(FILE* file) {
    return fsync(fileno(file)) == 0 ? 1 : 0;
}

int system_file_replace(const char* source, const char* target) {
    char* resolved = link_resolve(target);
    int ok = rename(source, resolved ? resolved : target) == 0 ? 1 : 0;
    free(resolved);
    return ok;
}
