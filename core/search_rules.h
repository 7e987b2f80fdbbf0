// The checks and option rules of a search that do not depend on the window, shared by the
// window's search command and the command line.
#pragma once

#include <cstdint>

#include "pattern.h"
#include "result_format.h"

extern const char* const MSG_NO_ELF_SELECTED;    // "No ELF file selected"
extern const char* const MSG_INVALID_ELF;        // "Invalid ELF file"
extern const char* const MSG_NO_SEARCH_PATTERNS; // "No valid search patterns"
extern const char* const MSG_REPLACE_REQUIRED;   // PNACH/RAW without a replace list
extern const char* const MSG_REPLACE_MISMATCH;   // counts or lengths differ
extern const char* const MSG_WORD_DIVISIBLE;     // lengths not a multiple of four

// For PNACH and RAW Code: the message that refuses the pair of lists, or null when they may be
// used. Checked in order: replace list missing, counts or lengths differing, search lengths
// not a multiple of four. Other formats always give null.
const char* search_check_patch_patterns(ResultFormat format, const PatternList* search,
                                        const PatternList* replace);

// The format chosen by the four format buttons, by precedence: Offset, Address, PNACH, RAW.
ResultFormat search_format_from_buttons(bool pnach, bool raw_code, bool offset, bool address);
