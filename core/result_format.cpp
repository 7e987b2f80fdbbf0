// The result text of a search: header lines per pattern, then the lines of each match.
#include "result_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "report.h"

static const uint32_t PAGE = 4096;
static const uint32_t CAPACITY_LIMIT = 0xFFFFF000u;

int result_buffer_init(ResultBuffer* buffer) {
    buffer->text = static_cast<char*>(malloc(PAGE));
    buffer->length = 0;
    buffer->capacity = buffer->text ? PAGE : 0;
    buffer->moved = 0;
    if (!buffer->text) {
        return 0;
    }
    buffer->text[0] = '\0';
    return 1;
}

void result_buffer_free(ResultBuffer* buffer) {
    free(buffer->text);
    buffer->text = nullptr;
    buffer->length = 0;
    buffer->capacity = 0;
    buffer->moved = 0;
}

static void report_growth_failure(uint32_t line) {
    trace_begin("search");
    trace_end_condition(0, line, "app", "Error allocating memory");
}

// Grows the buffer so that it holds at least `needed` bytes. Small steps are cheap while the
// allocator can extend the block where it lies; once it has had to move the block, every
// further step would copy the whole text again, so the steps become proportional instead.
static int buffer_grow(ResultBuffer* buffer, uint64_t needed) {
    uint64_t step = PAGE;
    if (buffer->moved) {
        step = (uint64_t{buffer->capacity} / 2 + PAGE - 1) / PAGE * PAGE;
    }
    uint64_t capacity = uint64_t{buffer->capacity} + step;
    if (capacity < needed) {
        capacity = (needed + PAGE - 1) / PAGE * PAGE;
    }
    if (capacity > CAPACITY_LIMIT) {
        if (needed > CAPACITY_LIMIT) {
            return 0;
        }
        capacity = CAPACITY_LIMIT;
    }
    char* text = static_cast<char*>(realloc(buffer->text, capacity));
    if (!text) {
        return 0;
    }
    if (text != buffer->text) {
        buffer->moved = 1;
    }
    buffer->text = text;
    buffer->capacity = static_cast<uint32_t>(capacity);
    return 1;
}

int result_append(ResultBuffer* buffer, uint32_t line, const char* format, ...) {
    for (;;) {
        uint32_t rest = buffer->capacity - buffer->length;
        va_list arguments;
        va_start(arguments, format);
        int written = vsnprintf(buffer->text + buffer->length, rest, format, arguments);
        va_end(arguments);
        if (written < 0) {
            buffer->text[buffer->length] = '\0';
            report_growth_failure(line);
            return 0;
        }
        if (static_cast<uint32_t>(written) < rest) {
            buffer->length += static_cast<uint32_t>(written);
            return 1;
        }
        // Cut back to what was there and format the piece again in a larger buffer.
        buffer->text[buffer->length] = '\0';
        if (!buffer_grow(buffer, uint64_t{buffer->length} + static_cast<uint64_t>(written) + 1)) {
            report_growth_failure(line);
            return 0;
        }
    }
}

// Check numbers of the pieces, by what they are.
enum : uint32_t {
    PIECE_PATTERN_HEADER = 616,
    PIECE_PATTERN_WORD = 621,
    PIECE_PATTERN_END = 627,
    PIECE_MASK_HEADER = 630,
    PIECE_MASK_WORD = 634,
    PIECE_MASK_END = 640,
    PIECE_OFFSET = 658,
    PIECE_ADDRESS = 662,
    PIECE_DATA_WORD = 668,
    PIECE_DATA_END = 674,
    PIECE_PNACH = 700,
    PIECE_RAW_CODE = 704,
    PIECE_BLOCK_END = 714,
};

// Appends word g of something `length` bytes long; a last partial word shows only the digits
// of the bytes it has, which are its most significant ones.
static int word_append(ResultBuffer* buffer, uint32_t line, uint32_t word, uint32_t g,
                       uint32_t length) {
    uint32_t bytes = length - g * 4;
    if (bytes >= 4) {
        return result_append(buffer, line, "%08X", word);
    }
    return result_append(buffer, line, "%0*X", static_cast<int>(bytes * 2),
                         word >> (8 * (4 - bytes)));
}

static int record_line_append(ResultBuffer* buffer, const PatternRecord* record, const char* header,
                              uint32_t header_line, uint32_t word_line, uint32_t end_line) {
    if (!result_append(buffer, header_line, "%s", header)) {
        return 0;
    }
    uint32_t words = (record->length + 3) / 4;
    for (uint32_t g = 0; g < words; ++g) {
        if (!word_append(buffer, word_line, pattern_word(record, g), g, record->length)) {
            return 0;
        }
    }
    return result_append(buffer, end_line, "\r\n");
}

static uint32_t byte_reverse(uint32_t word) {
    return (word >> 24) | ((word >> 8) & 0xFF00u) | ((word << 8) & 0xFF0000u) | (word << 24);
}

uint32_t result_patch_word(const PatternRecord* value, const PatternRecord* mask, uint32_t g,
                           bool swap, uint32_t old) {
    uint32_t r = pattern_word(value, g);
    uint32_t m = pattern_word(mask, g);
    if (swap) {
        r = byte_reverse(r);
        m = byte_reverse(m);
    }
    return r | (~m & old);
}

static int match_lines_append(ResultBuffer* buffer, const Match* match, uint32_t i,
                              const PatternList* search, const PatternList* replace,
                              const ElfImage* image, bool swap, ResultFormat format) {
    const PatternRecord* value = search->values[i];
    if (format == FORMAT_ADDRESS || format == FORMAT_OFFSET) {
        bool ok = format == FORMAT_ADDRESS
                      ? result_append(buffer, PIECE_ADDRESS, "%08X //", match->address)
                      : result_append(buffer, PIECE_OFFSET, "%08X //", match->offset);
        if (!ok) {
            return 0;
        }
        uint32_t words = (value->length + 3) / 4;
        for (uint32_t g = 0; g < words; ++g) {
            uint32_t word = elf_image_word(image, match->offset + 4 * g);
            if (!word_append(buffer, PIECE_DATA_WORD, word, g, value->length)) {
                return 0;
            }
        }
        return result_append(buffer, PIECE_DATA_END, "\r\n");
    }
    // Patch lines need a replace pattern of the same length; the search command refuses any
    // other pair, and here a missing one simply gives no line.
    if (!replace || i >= replace->count) {
        return 1;
    }
    const PatternRecord* new_value = replace->values[i];
    const PatternRecord* new_mask = replace->masks[i];
    uint32_t length = value->length < new_value->length ? value->length : new_value->length;
    for (uint32_t g = 0; g < length / 4; ++g) {
        uint32_t o = elf_image_word(image, match->offset + 4 * g);
        uint32_t n = result_patch_word(new_value, new_mask, g, swap, o);
        if (n == o) {
            continue;
        }
        uint32_t address = match->address + 4 * g;
        bool ok =
            format == FORMAT_PNACH
                ? result_append(buffer, PIECE_PNACH, "patch=1,EE,%08X,word,%08X //%08X\r\n",
                                address, n, o)
                : result_append(buffer, PIECE_RAW_CODE, "2%07X %08X //%08X\r\n", address, n, o);
        if (!ok) {
            return 0;
        }
    }
    return 1;
}

// The matches of each pattern, in list order, as runs of one array: pattern i's matches are
// order[first[i]] up to order[first[i + 1]]. One pass over the list, so that rendering stays
// linear in the number of matches. Returns 0 when memory is short.
static int matches_group(const PatternList* search, const Match* matches, const Match*** order,
                         uint32_t** first) {
    std::unordered_map<const PatternRecord*, uint32_t> index;
    try {
        index.reserve(search->count);
        for (uint32_t i = 0; i < search->count; ++i) {
            index.emplace(search->values[i], i);
        }
    } catch (...) {
        return 0;
    }
    uint64_t total = 0;
    for (const Match* match = matches; match; match = match->next) {
        ++total;
    }
    uint32_t* starts = static_cast<uint32_t*>(calloc(size_t{search->count} + 1, sizeof(uint32_t)));
    uint32_t* pattern_of = static_cast<uint32_t*>(malloc((total ? total : 1) * sizeof(uint32_t)));
    const Match** sorted =
        static_cast<const Match**>(malloc((total ? total : 1) * sizeof(const Match*)));
    if (!starts || !pattern_of || !sorted || total > 0xFFFFFFFFu) {
        free(starts);
        free(pattern_of);
        free(sorted);
        return 0;
    }
    const uint32_t none = search->count;
    uint64_t n = 0;
    for (const Match* match = matches; match; match = match->next, ++n) {
        auto found = index.find(match->value);
        pattern_of[n] = found == index.end() ? none : found->second;
        if (pattern_of[n] != none) {
            ++starts[pattern_of[n] + 1];
        }
    }
    for (uint32_t i = 0; i < search->count; ++i) {
        starts[i + 1] += starts[i];
    }
    // The fill moves each start to the next free slot; afterwards starts[i] is where
    // pattern i ends, which is where pattern i + 1 begins.
    n = 0;
    for (const Match* match = matches; match; match = match->next, ++n) {
        if (pattern_of[n] != none) {
            sorted[starts[pattern_of[n]]++] = match;
        }
    }
    for (uint32_t i = search->count; i > 0; --i) {
        starts[i] = starts[i - 1];
    }
    starts[0] = 0;
    free(pattern_of);
    *order = sorted;
    *first = starts;
    return 1;
}

int result_render(ResultBuffer* buffer, const PatternList* search, const PatternList* replace,
                  const Match* matches, const ElfImage* image, bool swap, ResultFormat format) {
    if (!matches) {
        return result_append(buffer, PIECE_BLOCK_END, "No matches found");
    }
    const Match** order = nullptr;
    uint32_t* first = nullptr;
    // Without room for the grouping, each pattern walks the list instead: slower, same text.
    bool grouped = search->count > 1 && matches_group(search, matches, &order, &first);
    int ok = 1;
    for (uint32_t i = 0; ok && i < search->count; ++i) {
        ok = record_line_append(buffer, search->values[i],
                                "//Search pattern: ", PIECE_PATTERN_HEADER, PIECE_PATTERN_WORD,
                                PIECE_PATTERN_END) &&
             record_line_append(buffer, search->masks[i], "//Search mask:    ", PIECE_MASK_HEADER,
                                PIECE_MASK_WORD, PIECE_MASK_END);
        if (grouped) {
            for (uint32_t n = first[i]; ok && n < first[i + 1]; ++n) {
                ok = match_lines_append(buffer, order[n], i, search, replace, image, swap, format);
            }
        } else {
            for (const Match* match = matches; ok && match; match = match->next) {
                if (match->value == search->values[i]) {
                    ok = match_lines_append(buffer, match, i, search, replace, image, swap, format);
                }
            }
        }
        ok = ok && result_append(buffer, PIECE_BLOCK_END, "\r\n");
    }
    free(order);
    free(first);
    return ok;
}
