// Windows reading at 64-bit offsets: the C library's stream with _fseeki64, opened the way the
// rest of the core opens files (fopen), so the same paths work.
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/types.h>

#include "core/platform/file_read.h"

struct FileReader {
    FILE* stream;
};

FileReader* file_reader_open(const char* path, uint64_t* size) {
    FILE* stream = fopen(path, "rb");
    if (!stream) {
        return nullptr;
    }
    struct _stat64 status;
    if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG ||
        status.st_size < 0) {
        fclose(stream);
        return nullptr;
    }
    FileReader* file = static_cast<FileReader*>(malloc(sizeof(FileReader)));
    if (!file) {
        fclose(stream);
        return nullptr;
    }
    file->stream = stream;
    *size = static_cast<uint64_t>(status.st_size);
    return file;
}

int file_reader_read_at(FileReader* file, uint64_t offset, void* out, size_t size) {
    if (_fseeki64(file->stream, static_cast<__int64>(offset), SEEK_SET) != 0) {
        return 0;
    }
    return fread(out, 1, size, file->stream) == size ? 1 : 0;
}

void file_reader_close(FileReader* file) {
    if (!file) {
        return;
    }
    fclose(file->stream);
    free(file);
}
