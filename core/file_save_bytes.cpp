// Atomic writing of binary data.
#include "core/file_save_bytes.h"

#include <cstdio>
#include <cstdlib>

#include "core/platform/system.h"
#include "core/report.h"

int save_file_bytes(const char* path, const uint8_t* data, size_t size) {
    char* temp_path = nullptr;
    trace_begin("save_file_bytes");
    int special = 0;
    FILE* file = path ? system_special_file_open(path, &special) : nullptr;
    if (path && !special)
        file = system_temp_file_create(path, &temp_path);
    if (!trace_end_condition(file != nullptr, 765, "core", "Error opening file"))
        return 0;
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    ok = std::fflush(file) == 0 && ok;
    ok = ok && (special || system_file_commit(file));
    ok = std::fclose(file) == 0 && ok;
    ok = ok && (special || system_file_replace(temp_path, path));
    if (!ok && temp_path)
        std::remove(temp_path);
    std::free(temp_path);
    trace_begin("save_file_bytes");
    return trace_end_condition(ok, 768, "core", "Error writing file");
}
