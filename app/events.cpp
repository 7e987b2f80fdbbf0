#include "app/events.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/controls.h"
#include "app/current_file.h"
#include "app/help.h"
#include "app/search.h"
#include "app/trace_texts.h"
#include "core/file_io.h"
#include "core/report.h"
#include "core/save_name.h"
#include "core/search_rules.h"
#include "gui/gui.h"

namespace {

const char EVENT_HANDLER[] = "event_handler";
const char DND_HANDLER[] = "dnd_handler";

// A string literal keeps its embedded zero bytes; sizeof counts them, and the literal's own
// terminator is the list's final zero.
const char FILTER_PATTERNS[] = "Pattern File (*.txt)\0*.txt;\0All Files\0*.*\0";
const char FILTER_PNACH[] = "PNACH File (*.PNACH)\0*.PNACH;\0All Files\0*.*\0";
const char FILTER_TEXT[] = "Text File (*.txt)\0*.txt;\0All Files\0*.*\0";

// "*.elf" and the hundred two-digit extensions *.00 to *.99 (disc images of console games are
// often split that way), all files, then disc images; the first stays the dialog's default.
// 24 bytes of description, 505 of patterns ("*.elf" and a hundred ";*.NN") and its terminator,
// 14 for the second pair, 65 for the third and 1 for the list's end: 610 in all.
struct BrowseFilter {
    char text[1024];
};

BrowseFilter browse_filter_build() {
    BrowseFilter f{};
    const char description[] = "ELF Files (*.elf, *.##)";
    const char tail[] = "All Files\0*.*\0"
                        "Disc images (*.iso, *.bin, *.cso, *.cue)\0*.iso;*.bin;*.cso;*.cue\0";
    size_t n = 0;
    std::memcpy(f.text + n, description, sizeof description);
    n += sizeof description;
    n += static_cast<size_t>(std::snprintf(f.text + n, sizeof f.text - n, "*.elf"));
    for (int i = 0; i < 100; ++i) {
        n += static_cast<size_t>(std::snprintf(f.text + n, sizeof f.text - n, ";*.%02d", i));
    }
    ++n; // the pattern's terminator, written by snprintf
    std::memcpy(f.text + n, tail, sizeof tail);
    return f;
}

struct OptionGroup {
    uint32_t count;
    uint32_t ids[4];
    uint32_t checks[4];
};

const OptionGroup OPTION_GROUPS[] = {
    {2, {ID_ENDIAN_BIG, ID_ENDIAN_LITTLE}, {345, 346}},
    {3, {ID_ALIGNMENT_BYTE, ID_ALIGNMENT_HALF_WORD, ID_ALIGNMENT_WORD}, {354, 355, 356}},
    {2, {ID_RANGE_EXECUTABLE, ID_RANGE_NON_EXECUTABLE}, {363, 364}},
    {4,
     {ID_FORMAT_ADDRESS, ID_FORMAT_OFFSET, ID_FORMAT_PNACH, ID_FORMAT_RAW_CODE},
     {373, 374, 375, 376}},
};

const OptionGroup* option_group_find(uint32_t id) {
    for (const OptionGroup& group : OPTION_GROUPS) {
        for (uint32_t i = 0; i < group.count; ++i) {
            if (group.ids[i] == id) {
                return &group;
            }
        }
    }
    return nullptr;
}

// The radio buttons do not check themselves: the clicked one is checked, its group's others
// unchecked, in ascending order; the first failure ends it.
void option_group_select(const OptionGroup* group, uint32_t id) {
    for (uint32_t i = 0; i < group->count; ++i) {
        const CheckState state = group->ids[i] == id ? GUI_CHECKED : GUI_UNCHECKED;
        if (!TRACE_CALL(EVENT_HANDLER, group->checks[i], UNIT, MSG_CONTROL,
                        gui_radio_button_set(group->ids[i], state))) {
            return;
        }
    }
}

void browse_elf() {
    const char* path = nullptr;
    if (!TRACE_CALL(
            EVENT_HANDLER, 247, UNIT, MSG_CONTROL,
            gui_dialog_open_file(nullptr, nullptr, nullptr, nullptr, filter_browse(), &path))) {
        return;
    }
    // The search could not have been started while the modal dialog was open, but a click
    // queued before it could: never replace the image under a running scan.
    if (path != nullptr && !search_is_running()) {
        load_elf(path);
    }
}

void patterns_load(uint32_t target, uint32_t check_dialog, uint32_t check_text) {
    const char* path = nullptr;
    if (!TRACE_CALL(
            EVENT_HANDLER, check_dialog, UNIT, MSG_CONTROL,
            gui_dialog_open_file(nullptr, nullptr, nullptr, nullptr, FILTER_PATTERNS, &path))) {
        return;
    }
    if (path == nullptr) {
        return;
    }
    char* text = load_file(path);
    if (text == nullptr) {
        return;
    }
    TRACE_CALL(EVENT_HANDLER, check_text, UNIT, MSG_CONTROL, gui_control_set_text(target, text));
    std::free(text);
}

void result_save() {
    if (loaded_image == nullptr) {
        gui_notification(MSG_NO_ELF_SELECTED, "Error", GUI_NOTIFY_OK);
        return;
    }
    CheckState pnach = GUI_UNCHECKED;
    if (!TRACE_CALL(EVENT_HANDLER, 305, UNIT, MSG_CONTROL,
                    gui_radio_button_get(ID_FORMAT_PNACH, &pnach))) {
        return;
    }
    const char* path = nullptr;
    if (pnach == GUI_CHECKED) {
        // The name comes from core/save_name, which quarnel-cli --output-dir uses as well.
        char name[16];
        save_name_propose(true, loaded_image->checksum, loaded_file_name, name, sizeof name);
        if (!TRACE_CALL(EVENT_HANDLER, 310, UNIT, MSG_CONTROL,
                        gui_dialog_save_file(nullptr, name, nullptr,
                                             save_name_default_extension(true), FILTER_PNACH,
                                             &path))) {
            return;
        }
    } else if (!TRACE_CALL(EVENT_HANDLER, 314, UNIT, MSG_CONTROL,
                           gui_dialog_save_file(nullptr, loaded_file_name, nullptr,
                                                save_name_default_extension(false), FILTER_TEXT,
                                                &path))) {
        return;
    }
    if (path == nullptr) {
        return;
    }
    uint32_t length = 0;
    if (!TRACE_CALL(EVENT_HANDLER, 319, UNIT, MSG_CONTROL,
                    gui_control_get_text_length(ID_RESULT, &length))) {
        return;
    }
    char* text = static_cast<char*>(std::malloc(size_t{length} + 1));
    if (!TRACE_CONDITION(EVENT_HANDLER, 322, UNIT, MSG_MEMORY, text)) {
        return;
    }
    if (TRACE_CALL(EVENT_HANDLER, 324, UNIT, MSG_CONTROL,
                   gui_control_get_text(ID_RESULT, text, length + 1))) {
        save_file(path, text);
    }
    std::free(text);
}

} // namespace

const char* filter_browse() {
    static const BrowseFilter filter = browse_filter_build();
    return filter.text;
}

const char* filter_patterns() {
    return FILTER_PATTERNS;
}

const char* filter_pnach() {
    return FILTER_PNACH;
}

const char* filter_text() {
    return FILTER_TEXT;
}

void event_handler(uint32_t id) {
    switch (id) {
    case 0:
        // A running scan still reads the image; the process is ending anyway, so it is left to
        // the system rather than waited for (the search may itself be waiting on this thread).
        if (!search_is_running()) {
            current_file_release();
        }
        return;
    case ID_BROWSE:
        browse_elf();
        return;
    case ID_HELP:
        help_show();
        return;
    case ID_LOAD_SEARCH_PATTERNS:
        patterns_load(ID_SEARCH_PATTERNS, 258, 266);
        return;
    case ID_LOAD_REPLACE_PATTERNS:
        patterns_load(ID_REPLACE_PATTERNS, 275, 283);
        return;
    case ID_SEARCH:
        search_start();
        return;
    case ID_SAVE:
        result_save();
        return;
    default:
        break;
    }
    if (const OptionGroup* group = option_group_find(id)) {
        option_group_select(group, id);
    }
}

void dnd_handler(uint32_t* count, char** names) {
    if (names == nullptr || (count != nullptr && *count == 0)) {
        return;
    }
    uint32_t enabled = 0;
    if (!TRACE_CALL(DND_HANDLER, 401, UNIT, MSG_CONTROL,
                    gui_control_enabled(ID_BROWSE, &enabled))) {
        return;
    }
    if (enabled != 0 && !search_is_running() && names[0] != nullptr) {
        load_elf(names[0]);
    }
}
