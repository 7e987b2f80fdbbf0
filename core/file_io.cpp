// Whole-file input and output.
#include "file_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"
#include "report.h"

FileReadStatus file_read_all(const char* path, uint32_t extra, char** data, uint32_t* size) {
    *data = nullptr;
    *size = 0;
    FILE* file = path ? system_file_open_read(path) : nullptr;
    if (!file) {
        return FILE_READ_OPEN_FAILED;
    }
    long end = -1;
    if (fseek(file, 0, SEEK_END) == 0) {
        end = ftell(file);
    }
    // Sizes are signed 32-bit numbers: 2 GiB and more is outside what the tool reads.
    if (end < 0 || static_cast<unsigned long>(end) >= 0x80000000ul || fseek(file, 0, SEEK_SET)) {
        fclose(file);
        return FILE_READ_TOO_LARGE;
    }
    uint32_t length = static_cast<uint32_t>(end);
    size_t bytes = size_t{length} + extra;
    char* buffer = static_cast<char*>(malloc(bytes ? bytes : 1));
    if (!buffer) {
        fclose(file);
        return FILE_READ_NO_MEMORY;
    }
    memset(buffer + length, 0, extra);
    bool ok = fread(buffer, 1, length, file) == length;
    // One more read tells a complete file from one that could not be read at all (a folder
    // opens like a file on some systems, and reports its size as 0).
    if (ok) {
        (void)fgetc(file);
        ok = !ferror(file);
    }
    fclose(file);
    if (!ok) {
        free(buffer);
        return FILE_READ_FAILED;
    }
    *data = buffer;
    *size = length;
    return FILE_READ_OK;
}

char* load_file_sized(const char* path, unsigned long* size) {
    char* data = nullptr;
    uint32_t length = 0;
    trace_begin("load_file");
    FileReadStatus status = file_read_all(path, 1, &data, &length);
    if (!trace_end_condition(status != FILE_READ_OPEN_FAILED, 736, "core", "Error opening file")) {
        return nullptr;
    }
    trace_begin("load_file");
    if (!trace_end_condition(status != FILE_READ_NO_MEMORY, 744, "core",
                             "Error allocating memory for file")) {
        return nullptr;
    }
    trace_begin("load_file");
    if (!trace_end_condition(status == FILE_READ_OK, 751, "core", "Error reading file")) {
        return nullptr;
    }
    if (size) {
        *size = length;
    }
    return data;
}

char* load_file(const char* path) {
    return load_file_sized(path, nullptr);
}

FileWriteStatus file_write_all(const char* path, const char* text, uint32_t length,
                               uint32_t* system_error) {
    *system_error = 0;
    char* temp_path = nullptr;
    // A device or a pipe is written as it is: renaming a new file over it would destroy it
    // (/dev/null for everybody, when run as root) and the bytes would never reach the reader.
    int special = 0;
    FILE* file = path ? system_special_file_open(path, &special) : nullptr;
    if (path && !special) {
        file = system_temp_file_create(path, &temp_path);
    }
    if (!file) {
        *system_error = system_last_error();
        return FILE_WRITE_OPEN_FAILED;
    }
    bool ok = length == 0 || fwrite(text, 1, length, file) == length;
    ok = fflush(file) == 0 && ok;
    ok = ok && (special || system_file_commit(file));
    if (!ok) {
        *system_error = system_last_error();
    }
    ok = fclose(file) == 0 && ok;
    if (ok && !special && !system_file_replace(temp_path, path)) {
        *system_error = system_last_error();
        ok = false;
    }
    if (!ok && temp_path) {
        remove(temp_path);
    }
    free(temp_path);
    return ok ? FILE_WRITE_OK : FILE_WRITE_FAILED;
}

int save_file(const char* path, const char* text) {
    if (!text) {
        text = "";
    }
    uint32_t system_error = 0;
    FileWriteStatus status =
        file_write_all(path, text, static_cast<uint32_t>(strlen(text)), &system_error);
    trace_begin("save_file");
    if (!trace_end_condition(status != FILE_WRITE_OPEN_FAILED, 765, "core", "Error opening file")) {
        return 0;
    }
    trace_begin("save_file");
    return trace_end_condition(status == FILE_WRITE_OK, 768, "core", "Error writing file");
}
