// Whole PNACH files from search results.
#include "core/pnach_file.h"

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "core/disc_image.h"
#include "core/result_format.h"

namespace {

// The serial that starts at `p` when `p` holds LLLL_DDD.DD (n bytes available), or "": the
// disc reader's rule for a boot executable's name.
std::string serial_at(const char* p, size_t n) {
    return n < 11 ? std::string() : disc_image_serial(std::string(p, 11));
}

} // namespace

std::string pnach_serial_from_name(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; p++) {
        if (*p == '/' || *p == '\\' || *p == ':')
            name = p + 1;
    }
    return serial_at(name, std::strlen(name));
}

std::string pnach_serial_from_system_cnf(const char* text, size_t size) {
    for (size_t at = 0; at + 5 <= size; at++) {
        if (std::strncmp(text + at, "BOOT2", 5) != 0 || (at > 0 && text[at - 1] != '\n'))
            continue;
        size_t end = at;
        while (end < size && text[end] != '\n')
            end++;
        // The serial is the file name after the last backslash or colon of the line.
        size_t name = at + 5;
        for (size_t i = at + 5; i < end; i++) {
            if (text[i] == '\\' || text[i] == ':' || text[i] == '/')
                name = i + 1;
        }
        return serial_at(text + name, end - name);
    }
    return "";
}

std::string pnach_file_name(const std::string& serial, uint32_t checksum) {
    char text[64];
    if (serial.empty())
        std::snprintf(text, sizeof text, "%08X.pnach", checksum);
    else
        std::snprintf(text, sizeof text, "%s_%08X.pnach", serial.c_str(), checksum);
    return text;
}

void pnach_file_render(const PatternList* search, const PatternList* replace, const Match* matches,
                       const ElfImage* image, bool swap, const char* title, std::string* text) {
    char line[128];
    std::snprintf(line, sizeof line, " (%08X)\r\n", image->checksum);
    *text = "gametitle=";
    *text += title;
    *text += line;
    // Each pattern's matches in list order, gathered in one pass so that the file is linear in
    // the number of matches however many patterns there are.
    std::unordered_map<const PatternRecord*, uint32_t> index;
    for (uint32_t i = 0; i < search->count; i++)
        index.emplace(search->values[i], i);
    std::vector<std::vector<const Match*>> by_pattern(search->count);
    for (const Match* match = matches; match; match = match->next) {
        auto found = index.find(match->value);
        if (found != index.end())
            by_pattern[found->second].push_back(match);
    }
    for (uint32_t i = 0; i < search->count; i++) {
        const PatternRecord* value = search->values[i];
        const PatternRecord* value_mask = search->masks[i];
        *text += "\r\n[Search pattern " + std::to_string(i + 1) + ": ";
        // Written as the user wrote it: a digit that matches anything stays an x.
        for (uint32_t g = 0; g < (value->length + 3) / 4; g++) {
            uint32_t word = pattern_word(value, g);
            uint32_t mask = pattern_word(value_mask, g);
            for (int shift = 28; shift >= 0; shift -= 4) {
                *text += (mask >> shift & 0xF) == 0 ? 'x' : "0123456789ABCDEF"[word >> shift & 0xF];
            }
        }
        *text += "]\r\n";
        const PatternRecord* r = replace->values[i];
        const PatternRecord* m = replace->masks[i];
        for (const Match* match : by_pattern[i]) {
            for (uint32_t g = 0; g < r->length / 4; g++) {
                uint32_t old_word = elf_image_word(image, match->offset + 4 * g);
                uint32_t new_word = result_patch_word(r, m, g, swap, old_word);
                if (new_word == old_word)
                    continue;
                std::snprintf(line, sizeof line, "patch=1,EE,%08X,word,%08X //%08X\r\n",
                              match->address + 4 * g, new_word, old_word);
                *text += line;
            }
        }
    }
}
