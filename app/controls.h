// The main window's controls: their identifiers, in creation order, and their creation.
#pragma once

#include <cstdint>

enum : uint32_t {
    ID_BROWSE = 1,
    ID_HELP = 2,
    ID_FILE_NAME = 3,
    ID_PATTERN_GROUP = 4,
    ID_ENDIAN_GROUP = 5,
    ID_ENDIAN_BIG = 6,
    ID_ENDIAN_LITTLE = 7,
    ID_ALIGNMENT_GROUP = 8,
    ID_ALIGNMENT_BYTE = 9,
    ID_ALIGNMENT_HALF_WORD = 10,
    ID_ALIGNMENT_WORD = 11,
    ID_RANGE_GROUP = 12,
    ID_RANGE_EXECUTABLE = 13,
    ID_RANGE_NON_EXECUTABLE = 14,
    ID_SEARCH_LABEL = 15,
    ID_SEARCH_PATTERNS = 16,
    ID_LOAD_SEARCH_PATTERNS = 17,
    ID_REPLACE_LABEL = 18,
    ID_REPLACE_PATTERNS = 19,
    ID_LOAD_REPLACE_PATTERNS = 20,
    ID_RESULT_GROUP = 21,
    ID_FORMAT_GROUP = 22,
    ID_FORMAT_ADDRESS = 23,
    ID_FORMAT_OFFSET = 24,
    ID_FORMAT_PNACH = 25,
    ID_FORMAT_RAW_CODE = 26,
    ID_RESULT = 27,
    ID_SEARCH = 28,
    ID_SAVE = 29,
};

// One row of the layout: what setup_controls creates, and the check number of its step.
struct ControlRow {
    uint32_t kind;
    const char* caption;
    uint32_t flags;
    uint32_t id;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    uint32_t check;
};

// The 29 rows, in creation order (index i holds identifier i + 1).
extern const ControlRow control_layout[29];

// Creates the 29 controls in order, then checks Little, Executable, Word and PNACH.
// Result: 0 when everything exists and is checked; 1 after the first failure, which has been
// reported ("Error creating control") and after which nothing more is created.
int setup_controls();
