// POSIX reading at 64-bit offsets: pread on a descriptor, which keeps no file position to race on.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/file_read.h"

struct FileReader {
    int descriptor;
};

FileReader* file_reader_open(const char* path, uint64_t* size) {
    // O_NONBLOCK: a named pipe must not hold the caller until a writer comes; it is refused
    // below anyway, as only a regular file has a size to read within.
    int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        return nullptr;
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
        close(descriptor);
        return nullptr;
    }
    FileReader* file = static_cast<FileReader*>(malloc(sizeof(FileReader)));
    if (!file) {
        close(descriptor);
        return nullptr;
    }
    file->descriptor = descriptor;
    *size = static_cast<uint64_t>(status.st_size);
    return file;
}

int file_reader_read_at(FileReader* file, uint64_t offset, void* out, size_t size) {
    char* at = static_cast<char*>(out);
    while (size > 0) {
        ssize_t count = pread(file->descriptor, at, size, static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return 0;
        }
        at += count;
        offset += static_cast<uint64_t>(count);
        size -= static_cast<size_t>(count);
    }
    return 1;
}

void file_reader_close(FileReader* file) {
    if (!file) {
        return;
    }
    close(file->descriptor);
    free(file);
}
