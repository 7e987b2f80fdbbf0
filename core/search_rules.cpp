// The checks of a search that need no window.
#include "search_rules.h"

const char* const MSG_NO_ELF_SELECTED = "No ELF file selected";
const char* const MSG_INVALID_ELF = "Invalid ELF file";
const char* const MSG_NO_SEARCH_PATTERNS = "No valid search patterns";
const char* const MSG_REPLACE_REQUIRED = "PNACH and RAW Code results require Replace patterns";
const char* const MSG_REPLACE_MISMATCH =
    "The number of and length of Replace patterns must match Search patterns";
const char* const MSG_WORD_DIVISIBLE = "PNACH/Raw Code results require Word-divisible patterns;\r\n"
                                       "each pattern must have a length divisible by four.";

const char* search_check_patch_patterns(ResultFormat format, const PatternList* search,
                                        const PatternList* replace) {
    if (format != FORMAT_PNACH && format != FORMAT_RAW_CODE) {
        return nullptr;
    }
    if (!replace || replace->count == 0 || !replace->values) {
        return MSG_REPLACE_REQUIRED;
    }
    if (replace->count != search->count) {
        return MSG_REPLACE_MISMATCH;
    }
    for (uint32_t i = 0; i < search->count; ++i) {
        if (replace->values[i]->length != search->values[i]->length) {
            return MSG_REPLACE_MISMATCH;
        }
    }
    for (uint32_t i = 0; i < search->count; ++i) {
        if (search->values[i]->length % 4 != 0) {
            return MSG_WORD_DIVISIBLE;
        }
    }
    return nullptr;
}

ResultFormat search_format_from_buttons(bool pnach, bool raw_code, bool offset, bool address) {
    (void)raw_code; // RAW Code is what remains when no other button is checked
    if (offset) {
        return FORMAT_OFFSET;
    }
    if (address) {
        return FORMAT_ADDRESS;
    }
    if (pnach) {
        return FORMAT_PNACH;
    }
    return FORMAT_RAW_CODE;
}
