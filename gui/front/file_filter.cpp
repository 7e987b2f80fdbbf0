// File-type filters: the common-dialog form translated into a list that any backend can turn
// into its own dialog's filters, and the Windows-like, case-blind pattern match they use.
#include <cstdlib>
#include <cstring>

#include "gui/backend.h"

// Length of the filter up to, not including, the NUL that ends the list.
static size_t filter_length(const char* filter) {
    size_t length = 0;
    while (filter[length] != '\0') {
        length += std::strlen(filter + length) + 1;
    }
    return length;
}

ErrorCode file_filter_parse(const char* filter, FileFilterList* list) {
    list->filters = nullptr;
    list->count = 0;
    list->storage = nullptr;
    if (!filter) {
        return GUI_ERROR_NONE;
    }
    size_t length = filter_length(filter);

    // Upper bounds: every string could be a description, every byte a pattern.
    size_t max_filters = length / 2 + 1;
    size_t max_patterns = length + 1;
    size_t size =
        max_filters * sizeof(FileFilter) + max_patterns * sizeof(const char*) + length + 1;
    char* block = static_cast<char*>(std::malloc(size));
    if (!block) {
        return GUI_ERROR_MALLOC;
    }
    FileFilter* filters = reinterpret_cast<FileFilter*>(block);
    const char** patterns =
        reinterpret_cast<const char**>(block + max_filters * sizeof(FileFilter));
    char* text = block + max_filters * sizeof(FileFilter) + max_patterns * sizeof(const char*);
    std::memcpy(text, filter, length);
    text[length] = '\0';

    uint32_t count = 0;
    size_t pattern_total = 0;
    size_t at = 0;
    while (at < length) {
        const char* description = text + at;
        at += std::strlen(description) + 1;
        if (at >= length) {
            break; // a description without patterns
        }
        char* joined = text + at;
        at += std::strlen(joined) + 1;

        FileFilter* entry = &filters[count];
        entry->description = description;
        entry->patterns = patterns + pattern_total;
        entry->pattern_count = 0;
        for (char* cursor = joined;;) {
            char* end = std::strchr(cursor, ';');
            if (end) {
                *end = '\0';
            }
            if (*cursor != '\0') {
                patterns[pattern_total++] = cursor;
                entry->pattern_count++;
            }
            if (!end) {
                break;
            }
            cursor = end + 1;
        }
        if (entry->pattern_count > 0) {
            count++;
        }
    }
    list->filters = filters;
    list->count = count;
    list->storage = block;
    return GUI_ERROR_NONE;
}

void file_filter_free(FileFilterList* list) {
    std::free(list->storage);
    list->filters = nullptr;
    list->count = 0;
    list->storage = nullptr;
}

static char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int file_pattern_match(const char* pattern, const char* name) {
    if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) {
        return 1;
    }
    // Iterative glob with one backtrack point: linear in practice, no recursion depth issues.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern && ascii_lower(*pattern) == ascii_lower(*name))) {
            pattern++;
            name++;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return 0;
        }
    }
    while (*pattern == '*') {
        pattern++;
    }
    return *pattern == '\0';
}

int file_filter_accepts(const FileFilter* filter, const char* name) {
    for (uint32_t i = 0; i < filter->pattern_count; i++) {
        if (file_pattern_match(filter->patterns[i], name)) {
            return 1;
        }
    }
    return 0;
}
