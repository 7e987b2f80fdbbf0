#include "app/controls.h"

#include "app/trace_texts.h"
#include "core/report.h"
#include "gui/gui.h"

namespace {

const char FUNCTION[] = "setup_controls";
const char MESSAGE[] = "Error creating control";

// The three edit boxes: multi-line, scrolling, in the fixed-pitch font.
constexpr uint32_t EDIT_FLAGS =
    GUI_STYLE_LEFT | GUI_STYLE_MULTILINE | GUI_STYLE_SCROLL | GUI_STYLE_FIXED_FONT;

struct StartCheck {
    uint32_t id;
    uint32_t check;
};

const StartCheck START_CHECKS[] = {
    {ID_ENDIAN_LITTLE, 218},
    {ID_RANGE_EXECUTABLE, 219},
    {ID_ALIGNMENT_WORD, 220},
    {ID_FORMAT_PNACH, 221},
};

} // namespace

const ControlRow control_layout[29] = {
    {GUI_BUTTON, "Browse", 0, ID_BROWSE, 7, 3, 60, 20, 165},
    {GUI_BUTTON, "Help", 0, ID_HELP, 528, 3, 60, 20, 166},
    {GUI_LABEL, "Click 'Browse' or drag and drop to open an ELF file", GUI_STYLE_LEFT, ID_FILE_NAME,
     72, 6, 260, 18, 167},
    {GUI_GROUPBOX, "Pattern", GUI_STYLE_LEFT, ID_PATTERN_GROUP, 8, 24, 579, 235, 170},
    {GUI_GROUPBOX, "Endian", GUI_STYLE_LEFT, ID_ENDIAN_GROUP, 14, 44, 200, 40, 173},
    {GUI_RADIO_BUTTON, "Big", 0, ID_ENDIAN_BIG, 27, 60, 50, 18, 174},
    {GUI_RADIO_BUTTON, "Little", 0, ID_ENDIAN_LITTLE, 80, 60, 60, 18, 175},
    {GUI_GROUPBOX, "Alignment", GUI_STYLE_LEFT, ID_ALIGNMENT_GROUP, 14, 88, 200, 40, 178},
    {GUI_RADIO_BUTTON, "Byte", 0, ID_ALIGNMENT_BYTE, 27, 104, 45, 18, 179},
    {GUI_RADIO_BUTTON, "Half Word", 0, ID_ALIGNMENT_HALF_WORD, 80, 104, 80, 18, 180},
    {GUI_RADIO_BUTTON, "Word", 0, ID_ALIGNMENT_WORD, 160, 104, 45, 18, 181},
    {GUI_GROUPBOX, "Range", GUI_STYLE_LEFT, ID_RANGE_GROUP, 14, 132, 200, 40, 184},
    {GUI_RADIO_BUTTON, "Executable", 0, ID_RANGE_EXECUTABLE, 27, 148, 70, 18, 185},
    {GUI_RADIO_BUTTON, "Non-Executable", 0, ID_RANGE_NON_EXECUTABLE, 110, 148, 95, 18, 186},
    {GUI_LABEL, "Search", GUI_STYLE_LEFT, ID_SEARCH_LABEL, 218, 34, 60, 16, 189},
    {GUI_EDIT, "", EDIT_FLAGS, ID_SEARCH_PATTERNS, 218, 50, 364, 78, 190},
    {GUI_BUTTON, "Load Search Patterns", 0, ID_LOAD_SEARCH_PATTERNS, 446, 132, 120, 20, 191},
    {GUI_LABEL, "Replace", GUI_STYLE_LEFT, ID_REPLACE_LABEL, 218, 140, 60, 16, 194},
    {GUI_EDIT, "", EDIT_FLAGS, ID_REPLACE_PATTERNS, 218, 156, 364, 78, 195},
    {GUI_BUTTON, "Load Replace Patterns", 0, ID_LOAD_REPLACE_PATTERNS, 446, 234, 120, 20, 196},
    {GUI_GROUPBOX, "Result", GUI_STYLE_LEFT, ID_RESULT_GROUP, 8, 265, 579, 235, 199},
    {GUI_GROUPBOX, "Format", GUI_STYLE_LEFT, ID_FORMAT_GROUP, 14, 278, 279, 40, 202},
    {GUI_RADIO_BUTTON, "Address", 0, ID_FORMAT_ADDRESS, 27, 294, 60, 18, 203},
    {GUI_RADIO_BUTTON, "Offset", 0, ID_FORMAT_OFFSET, 92, 294, 50, 18, 204},
    {GUI_RADIO_BUTTON, "PNACH", 0, ID_FORMAT_PNACH, 147, 294, 60, 18, 205},
    {GUI_RADIO_BUTTON, "RAW Code", 0, ID_FORMAT_RAW_CODE, 211, 294, 70, 18, 206},
    {GUI_EDIT, "", EDIT_FLAGS, ID_RESULT, 14, 323, 567, 172, 209},
    {GUI_BUTTON, "Search", 0, ID_SEARCH, 235, 504, 60, 20, 212},
    {GUI_BUTTON, "Save", 0, ID_SAVE, 299, 504, 60, 20, 215},
};

int setup_controls() {
    for (const ControlRow& c : control_layout) {
        if (!TRACE_CALL(FUNCTION, c.check, UNIT, MESSAGE,
                        gui_control_create(c.kind, c.caption, c.flags, c.id, c.x, c.y, c.width,
                                           c.height))) {
            return 1;
        }
    }
    for (const StartCheck& s : START_CHECKS) {
        if (!TRACE_CALL(FUNCTION, s.check, UNIT, MESSAGE,
                        gui_radio_button_set(s.id, GUI_CHECKED))) {
            return 1;
        }
    }
    return 0;
}
