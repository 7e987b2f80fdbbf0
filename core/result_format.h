// The result text of a search in the four formats, built into a growing buffer.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "elf_image.h"
#include "match.h"
#include "pattern.h"

enum ResultFormat : uint32_t {
    FORMAT_ADDRESS = 0,
    FORMAT_OFFSET = 1,
    FORMAT_PNACH = 2,
    FORMAT_RAW_CODE = 3,
};

// A zero-terminated text, its length (tracked, never recounted) and its capacity, a multiple
// of 4096.
struct ResultBuffer {
    char* text;
    uint32_t length;
    uint32_t capacity;
    uint32_t moved; // set once a growth had to move the block: from then on it grows by half
};

// Allocates the buffer with capacity 4096 and an empty text. Returns 1, or 0 when out of memory.
int result_buffer_init(ResultBuffer* buffer);
void result_buffer_free(ResultBuffer* buffer);

// Appends one formatted piece, growing the buffer as needed. When it cannot grow, reports
// "Error allocating memory" with `line` (the check that names the piece) in function "search"
// and returns 0; otherwise 1.
int result_append(ResultBuffer* buffer, uint32_t line, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Renders the whole result text of a scan into an empty buffer. `replace` is used only by
// PNACH and RAW Code (and must then match `search` in count and lengths). Returns 1, or 0 after
// a reported growth failure.
int result_render(ResultBuffer* buffer, const PatternList* search, const PatternList* replace,
                  const Match* matches, const ElfImage* image, bool swap, ResultFormat format);

// The word that group g of a replace pattern writes over the file word `old`: the replace bits
// where its mask is set, the file's bits elsewhere. With `swap` ("Little") the replace value
// and mask are byte-reversed first, as the patterns were written in the file's byte order.
uint32_t result_patch_word(const PatternRecord* value, const PatternRecord* mask, uint32_t g,
                           bool swap, uint32_t old);
