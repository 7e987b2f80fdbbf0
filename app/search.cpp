#include "app/search.h"

#include <atomic>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/controls.h"
#include "app/current_file.h"
#include "app/trace_texts.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/report.h"
#include "core/result_format.h"
#include "core/search_rules.h"
#include "gui/gui.h"

namespace {

const char FUNCTION[] = "search";
const char MSG_ELF[] = "Error processing ELF file";

std::atomic<bool> running{false};

// What one run holds; released on every way out after the controls were disabled.
struct SearchRun {
    PatternList search;
    PatternList replace;
    Match* matches;
    ResultBuffer result;
    bool progress_shown;
};

bool check_call(uint32_t line, ErrorCode code) {
    return trace_end_call(code, line, UNIT, MSG_CONTROL) != 0;
}

// Ends a run that never disabled anything: only Search, which search_start disabled, comes
// back.
void search_return_plain() {
    running.store(false);
    gui_control_enable(ID_SEARCH, 1);
}

// Releases everything the run holds and gives the window back. `keep_result` leaves the result
// box as the last step set it (success); otherwise the box is emptied.
void search_return_restoring(SearchRun* run, bool keep_result) {
    result_buffer_free(&run->result);
    free_matches(run->matches);
    run->matches = nullptr;
    pattern_list_free(&run->search);
    pattern_list_free(&run->replace);
    if (run->progress_shown) {
        gui_taskbar_progressbar_state(0);
    }
    // The image is no longer read from here on, so the window may release or replace it.
    running.store(false);
    gui_control_enable(ID_BROWSE, 1);
    gui_control_enable(ID_SEARCH, 1);
    gui_control_enable(ID_SAVE, 1);
    if (!keep_result) {
        gui_control_set_text(ID_RESULT, "");
    }
    gui_control_enable(ID_RESULT, 1);
}

// Reads the text of a pattern box and parses it. Returns false after a reported failure
// (a null list with true means the text held no pattern).
bool search_read_patterns(uint32_t id, uint32_t line_length, uint32_t line_memory,
                          uint32_t line_text, PatternList* list) {
    uint32_t length = 0;
    trace_begin(FUNCTION);
    if (!check_call(line_length, gui_control_get_text_length(id, &length))) {
        return false;
    }
    char* text = static_cast<char*>(std::malloc(size_t{length} + 1));
    if (!TRACE_CONDITION(FUNCTION, line_memory, UNIT, MSG_MEMORY, text)) {
        return false;
    }
    trace_begin(FUNCTION);
    if (!check_call(line_text, gui_control_get_text(id, text, length + 1))) {
        std::free(text);
        return false;
    }
    list->values = parse_pattern(text, &list->count, &list->masks);
    std::free(text);
    return true;
}

// Reads one option button; false after a reported failure.
bool search_read_option(uint32_t id, uint32_t line, bool* checked) {
    CheckState state = GUI_UNCHECKED;
    trace_begin(FUNCTION);
    if (!check_call(line, gui_radio_button_get(id, &state))) {
        return false;
    }
    *checked = state == GUI_CHECKED;
    return true;
}

bool search_set_option(uint32_t id, uint32_t line, CheckState state) {
    trace_begin(FUNCTION);
    return check_call(line, gui_radio_button_set(id, state));
}

void search_refuse(const char* message) {
    gui_notification(message, "Error", GUI_NOTIFY_OK);
}

// The steps after the search text was parsed, up to the result box. Returns true when the
// result text is shown; false after a failure or a refusal, which has been reported.
bool search_run(SearchRun* run) {
    if (run->search.values == nullptr) {
        search_refuse(MSG_NO_SEARCH_PATTERNS);
        return false;
    }
    if (!search_read_patterns(ID_REPLACE_PATTERNS, 494, 497, 502, &run->replace)) {
        return false;
    }

    bool big = false;
    bool byte = false;
    bool half_word = false;
    bool executable = false;
    bool pnach = false;
    bool raw_code = false;
    bool offset = false;
    bool address = false;
    if (!search_read_option(ID_ENDIAN_BIG, 513, &big)) {
        return false;
    }
    if (!search_read_option(ID_ALIGNMENT_BYTE, 517, &byte)) {
        return false;
    }
    if (!byte && !search_read_option(ID_ALIGNMENT_HALF_WORD, 525, &half_word)) {
        return false;
    }
    if (!search_read_option(ID_RANGE_EXECUTABLE, 530, &executable) ||
        !search_read_option(ID_FORMAT_PNACH, 536, &pnach) ||
        !search_read_option(ID_FORMAT_RAW_CODE, 537, &raw_code) ||
        !search_read_option(ID_FORMAT_OFFSET, 651, &offset) ||
        !search_read_option(ID_FORMAT_ADDRESS, 652, &address)) {
        return false;
    }
    const bool swap = !big;
    uint32_t step = byte ? 1 : half_word ? 2 : 4;
    const ResultFormat format = search_format_from_buttons(pnach, raw_code, offset, address);

    if (format == FORMAT_PNACH || format == FORMAT_RAW_CODE) {
        const PatternList* replace = run->replace.values != nullptr ? &run->replace : nullptr;
        const char* refusal = search_check_patch_patterns(format, &run->search, replace);
        if (refusal != nullptr) {
            search_refuse(refusal);
            return false;
        }
        // Patch lines write whole words, so these formats always scan word by word; the
        // window is made to say so.
        if (step != 4) {
            step = 4;
            if (!search_set_option(ID_ALIGNMENT_BYTE, 575, GUI_UNCHECKED) ||
                !search_set_option(ID_ALIGNMENT_HALF_WORD, 576, GUI_UNCHECKED) ||
                !search_set_option(ID_ALIGNMENT_WORD, 577, GUI_CHECKED)) {
                return false;
            }
        }
    }

    gui_taskbar_progressbar_state(1);
    run->progress_shown = true;

    MatchList* list = find_matches(loaded_image, executable, swap, step, run->search.count,
                                   run->search.values, run->search.masks);
    if (!TRACE_CONDITION(FUNCTION, 587, UNIT, MSG_ELF, list)) {
        return false;
    }
    run->matches = list->head;

    if (!TRACE_CONDITION(FUNCTION, 595, UNIT, MSG_MEMORY, result_buffer_init(&run->result))) {
        return false;
    }
    const PatternList* replace = run->replace.values != nullptr ? &run->replace : nullptr;
    if (!result_render(&run->result, &run->search, replace, run->matches, loaded_image, swap,
                       format)) {
        return false;
    }
    trace_begin(FUNCTION);
    return check_call(718, gui_control_set_text(ID_RESULT, run->result.text));
}

} // namespace

int search() {
    if (loaded_image == nullptr) {
        search_refuse(MSG_NO_ELF_SELECTED);
        search_return_plain();
        return 0;
    }
    trace_begin(FUNCTION);
    if (!check_call(459, gui_control_set_text(ID_RESULT, "Searching..."))) {
        search_return_plain();
        return 0;
    }
    uint32_t length = 0;
    trace_begin(FUNCTION);
    if (!check_call(462, gui_control_get_text_length(ID_SEARCH_PATTERNS, &length))) {
        search_return_plain();
        return 0;
    }
    char* text = static_cast<char*>(std::malloc(size_t{length} + 1));
    if (!TRACE_CONDITION(FUNCTION, 465, UNIT, MSG_MEMORY, text)) {
        search_return_plain();
        return 0;
    }

    SearchRun run{};
    gui_control_enable(ID_BROWSE, 0);
    gui_control_enable(ID_SEARCH, 0);
    gui_control_enable(ID_SAVE, 0);
    gui_control_enable(ID_RESULT, 0);
    trace_begin(FUNCTION);
    bool ok = check_call(476, gui_control_get_text(ID_SEARCH_PATTERNS, text, length + 1));
    if (ok) {
        run.search.values = parse_pattern(text, &run.search.count, &run.search.masks);
    }
    std::free(text);
    ok = ok && search_run(&run);
    search_return_restoring(&run, ok);
    return 0;
}

void search_start() {
    if (running.exchange(true)) {
        return;
    }
    gui_control_enable(ID_SEARCH, 0);
    try {
        std::thread([] { search(); }).detach();
    } catch (const std::system_error&) {
        // No thread: nothing ran, so the window is given back as it was.
        running.store(false);
        gui_control_enable(ID_SEARCH, 1);
    }
}

bool search_is_running() {
    return running.load();
}
