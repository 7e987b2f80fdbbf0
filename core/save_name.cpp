#include "save_name.h"

#include <cstdio>
#include <cstring>

void save_name_propose(bool pnach, uint32_t checksum, const char* base_name, char* out,
                       size_t size) {
    if (pnach) {
        snprintf(out, size, "%08X.PNACH", static_cast<unsigned>(checksum));
    } else {
        snprintf(out, size, "%s", base_name);
    }
}

const char* save_name_default_extension(bool pnach) {
    return pnach ? ".PNACH" : ".txt";
}

void save_name_final(bool pnach, uint32_t checksum, const char* base_name, char* out, size_t size) {
    save_name_propose(pnach, checksum, base_name, out, size);
    if (!std::strchr(out, '.')) {
        size_t length = std::strlen(out);
        snprintf(out + length, size - length, "%s", save_name_default_extension(pnach));
    }
}

std::string save_name_text_result(const char* base_name) {
    return std::string(base_name) + ".txt";
}
