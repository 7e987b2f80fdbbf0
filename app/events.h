// The window's two handlers, called by the toolkit on the GUI thread.
#pragma once

#include <cstdint>

// A click on a button or radio button (`id`), or the window closing (0).
void event_handler(uint32_t id);

// Files dropped on the window: the first one becomes the current ELF file, unless Browse is
// disabled (a search runs). Neither argument is kept.
void dnd_handler(uint32_t* count, char** names);

// The file-type filters of the four dialogs, in the dialogs' form: pairs of zero-terminated
// strings ended by one more zero byte.
const char* filter_browse();
const char* filter_patterns();
const char* filter_pnach();
const char* filter_text();
