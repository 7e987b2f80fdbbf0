// POSIX services of the core: errno, strerror_r and rename.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_map.h"
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

const char* system_error_text_of(uint32_t error, char* buffer, uint32_t size) {
    if (size == 0) {
        return buffer;
    }
    char text[256];
    text[0] = '\0';
    const char* found =
        pick_error_text(strerror_r(static_cast<int>(error), text, sizeof text), text);
    snprintf(buffer, size, "%s", found && *found ? found : "Unknown Error");
    return buffer;
}

int system_stream_read_all(const char* path, uint32_t limit, char** data, uint32_t* size,
                           uint32_t* system_error) {
    *data = nullptr;
    *size = 0;
    *system_error = 0;
    // Non-blocking throughout: an empty pipe then tells "no writer" (end of file at once) from
    // "a writer that has not written yet" (EAGAIN), and neither can hang the program.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *system_error = static_cast<uint32_t>(errno);
        return 0;
    }
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        // Refused as Windows refuses to open one.
        close(fd);
        *system_error = EISDIR;
        return 0;
    }
    size_t capacity = 65536;
    size_t length = 0;
    char* buffer = static_cast<char*>(malloc(capacity));
    int result = buffer ? 1 : -3;
    bool waited_for_writer = false;
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
        ssize_t got = read(fd, buffer + length, capacity - length - 1);
        if (got > 0) {
            length += static_cast<size_t>(got);
            if (length > limit) {
                result = -1;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        struct pollfd wait_for {
            fd, POLLIN, 0
        };
        if (got < 0 && errno == EAGAIN) {
            // A writer is there and has more to say.
            (void)poll(&wait_for, 1, -1);
            continue;
        }
        if (got < 0) {
            *system_error = static_cast<uint32_t>(errno);
            result = -4;
            break;
        }
        // End of file. A named pipe reads as ended while no program has opened it for writing
        // yet: one that comes within the grace time is waited for (poll wakes when it writes
        // or closes).
        if (length == 0 && !waited_for_writer && S_ISFIFO(info.st_mode)) {
            waited_for_writer = true;
            if (poll(&wait_for, 1, 1000) == 0) {
                result = -2;
            }
            continue;
        }
        break;
    }
    close(fd);
    if (result != 1) {
        free(buffer);
        return result;
    }
    buffer[length] = '\0';
    *data = buffer;
    *size = static_cast<uint32_t>(length);
    return 1;
}

// Mapped files live in a fixed table that the SIGBUS handler can search without locks or
// allocation. A fault inside one of them (the file was truncated under the mapping) is
// answered by laying zero pages over the rest of that mapping and marking it damaged; the
// faulting read then continues and sees zeros.
namespace {

const int MAP_SLOTS = 256;

struct MapSlot {
    std::atomic<uintptr_t> start;
    std::atomic<uintptr_t> length;
    std::atomic<int> damaged;
    std::atomic<int> used;
};

MapSlot map_slots[MAP_SLOTS];
std::atomic<int> fault_handler_installed{0};
uintptr_t page_size = 4096; // read once before the handler is installed
struct sigaction previous_bus_action;

void bus_fault_handle(int signal, siginfo_t* info, void* context) {
    uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MapSlot& slot : map_slots) {
        uintptr_t start = slot.start.load();
        uintptr_t length = slot.length.load();
        if (length == 0 || address < start || address - start >= length) {
            continue;
        }
        uintptr_t from = address & ~(page_size - 1);
        void* zeros = mmap(reinterpret_cast<void*>(from), start + length - from, PROT_READ,
                           MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        slot.damaged.store(1);
        if (zeros != MAP_FAILED) {
            return;
        }
        break;
    }
    // Not one of ours (or it could not be patched): the fault takes its usual course.
    if (previous_bus_action.sa_flags & SA_SIGINFO) {
        if (previous_bus_action.sa_sigaction) {
            previous_bus_action.sa_sigaction(signal, info, context);
            return;
        }
    } else if (previous_bus_action.sa_handler != SIG_DFL &&
               previous_bus_action.sa_handler != SIG_IGN) {
        previous_bus_action.sa_handler(signal);
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

bool fault_handler_install() {
    int expected = 0;
    if (fault_handler_installed.load() == 2) {
        return true;
    }
    if (!fault_handler_installed.compare_exchange_strong(expected, 1)) {
        while (fault_handler_installed.load() == 1) {
            sched_yield();
        }
        return fault_handler_installed.load() == 2;
    }
    struct sigaction action {};
    action.sa_sigaction = bus_fault_handle;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    bool ok = sigaction(SIGBUS, &action, &previous_bus_action) == 0;
    fault_handler_installed.store(ok ? 2 : 0);
    return ok;
}

int map_slot_take() {
    for (int i = 0; i < MAP_SLOTS; ++i) {
        int expected = 0;
        if (map_slots[i].used.compare_exchange_strong(expected, 1)) {
            map_slots[i].damaged.store(0);
            return i;
        }
    }
    return -1;
}

} // namespace

FileMapStatus file_map_open(const char* path, FileMap* map, uint32_t* system_error) {
    *map = FileMap{nullptr, 0, -1, nullptr};
    *system_error = 0;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *system_error = static_cast<uint32_t>(errno);
        return FILE_MAP_OPEN_FAILED;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        *system_error = static_cast<uint32_t>(errno);
        close(fd);
        return FILE_MAP_OPEN_FAILED;
    }
    if (!S_ISREG(info.st_mode)) {
        *system_error = S_ISDIR(info.st_mode) ? EISDIR : 0;
        close(fd);
        return FILE_MAP_NOT_REGULAR;
    }
    if (info.st_size >= 0x80000000LL) {
        close(fd);
        return FILE_MAP_TOO_LARGE;
    }
    if (info.st_size == 0) {
        close(fd);
        return FILE_MAP_OK;
    }
    int slot = fault_handler_install() ? map_slot_take() : -1;
    if (slot < 0) {
        // Without the fault guard a truncation would kill the program: refuse instead.
        close(fd);
        *system_error = ENOMEM;
        return FILE_MAP_FAILED;
    }
    size_t length = static_cast<size_t>(info.st_size);
    void* data = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        *system_error = static_cast<uint32_t>(errno);
        map_slots[slot].used.store(0);
        close(fd);
        return FILE_MAP_FAILED;
    }
    close(fd);
    (void)madvise(data, length, MADV_SEQUENTIAL);
    map_slots[slot].start.store(reinterpret_cast<uintptr_t>(data));
    map_slots[slot].length.store(length);
    map->data = static_cast<const uint8_t*>(data);
    map->size = static_cast<uint32_t>(length);
    map->slot = slot;
    return FILE_MAP_OK;
}

bool file_map_damaged(const FileMap* map) {
    return map->slot >= 0 && map_slots[map->slot].damaged.load() != 0;
}

void file_map_close(FileMap* map) {
    // The slot is emptied first: once unmapped, the addresses may serve another mapping.
    MapSlot* slot = map->slot >= 0 ? &map_slots[map->slot] : nullptr;
    if (slot) {
        slot->length.store(0);
        slot->start.store(0);
    }
    if (map->data) {
        munmap(const_cast<uint8_t*>(map->data), map->size);
    }
    if (slot) {
        slot->damaged.store(0);
        slot->used.store(0);
    }
    *map = FileMap{nullptr, 0, -1, nullptr};
}
