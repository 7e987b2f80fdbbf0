// The image reader's byte source: a file read at offsets, or memory.
#include "disc_reader.h"

#include <cstring>

int disc_reader_open_file(DiscReader* reader, const char* path) {
    *reader = DiscReader{};
    uint64_t size = 0;
    FileReader* file = file_reader_open(path, &size);
    if (!file) {
        return 0;
    }
    reader->file = file;
    reader->size = size;
    return 1;
}

void disc_reader_open_memory(DiscReader* reader, const uint8_t* data, uint64_t size) {
    *reader = DiscReader{};
    reader->memory = data;
    reader->size = size;
}

int disc_reader_read(DiscReader* reader, uint64_t offset, void* out, uint64_t size) {
    if (offset > reader->size || size > reader->size - offset) {
        return 0;
    }
    if (size == 0) {
        return 1;
    }
    if (reader->memory) {
        memcpy(out, reader->memory + offset, size);
    } else if (!reader->file || !file_reader_read_at(reader->file, offset, out, size)) {
        return 0;
    }
    reader->bytes_read += size;
    return 1;
}

void disc_reader_close(DiscReader* reader) {
    if (reader->file) {
        file_reader_close(reader->file);
        reader->file = nullptr;
    }
}
