// Big texts for multi-line edit boxes. One WM_SETTEXT of a search result of a million lines keeps
// the GUI thread inside the edit control for minutes under Wine (it measures every line), and the
// window stays frozen all that time. Such a text goes in a piece at a time instead (piece_next),
// and the GUI thread serves its queue (input, paint, timers, other threads' calls) between pieces.
// The caller still waits for the whole text. windows.h first: the other system headers build on it.
#include "gui/win32/win32_internal.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

// Every text set into a box takes a new number; a fill that finds a newer number than its own
// stops, so that pieces of an older text never land after a newer one.
static std::mutex epochs_mutex;
static std::map<HWND, uint32_t> text_epochs;

uint32_t text_epoch_next(HWND box) {
    std::lock_guard<std::mutex> lock(epochs_mutex);
    return ++text_epochs[box];
}

static uint32_t text_epoch(HWND box) {
    std::lock_guard<std::mutex> lock(epochs_mutex);
    return text_epochs[box];
}

// Serves everything waiting for the GUI thread, as its loop would. False when the loop is to end.
static bool serve_queue() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam)); // for the main loop to see
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return !toolkit.window_gone;
}

// Where the piece that ends at `end` starts: after the first line end in it, so that a CR LF pair
// is never cut in two, or `piece` bytes back (not between a CR and its LF) when it holds none.
static size_t piece_start(const char* text, size_t end, size_t piece) {
    if (piece >= end) {
        return 0;
    }
    size_t start = end - piece;
    for (size_t at = start; at < end; at++) {
        if (text[at - 1] == '\n') {
            return at;
        }
    }
    if (text[start - 1] == '\r' && text[start] == '\n') {
        start++;
    }
    return start;
}

// How many bytes the next piece takes, `done` bytes being in. The pieces go in from the text's end
// backwards, each at the box's start: Wine's control walks its lines from the first to the one
// where a piece goes, so pieces appended at the end would each cost a walk over all the lines
// already in, the square of the text's length in all. At the start that walk is short; what is left
// per piece (the control counts its whole text again and moves it along) still grows with the text,
// so a piece is never less than a thirty-second of the text in. Above that, the size follows the
// time the last piece (of `piece` bytes) took, toward `target_ms`, since a line costs differently
// on each system.
static size_t piece_next(size_t piece, size_t done, double spent_ms) {
    const double target_ms = 100;
    const size_t smallest = 16 << 10, largest = 4 << 20;
    double scale = spent_ms > 0 ? target_ms / spent_ms : 2.0;
    scale = std::min(std::max(scale, 0.25), 2.0);
    return std::max({std::min(size_t(double(piece) * scale), largest), smallest, done / 32});
}

ErrorCode text_fill(HWND box, const char* text, size_t length) {
    using clock = std::chrono::steady_clock;
    uint32_t epoch = text_epoch_next(box);
    // Pieces are replacements of the selection, which the box's limit on typed text applies to.
    SendMessageA(box, EM_SETLIMITTEXT, 0, 0);
    SetLastError(0);
    if (!SetWindowTextA(box, "")) {
        return win32_gui_failure("SetDlgItemText");
    }
    std::vector<char> piece_text;
    size_t done = 0, piece = 16 << 10, end = length;
    while (end > 0) {
        size_t start_at = piece_start(text, end, piece);
        piece_text.assign(text + start_at, text + end);
        piece_text.push_back('\0');
        auto start = clock::now();
        SendMessageA(box, EM_SETSEL, 0, 0); // before the pieces already in (piece_next)
        SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece_text.data()));
        std::chrono::duration<double, std::milli> spent = clock::now() - start;
        done += end - start_at;
        piece = piece_next(end - start_at, done, spent.count());
        end = start_at;
        if (!serve_queue()) {
            return GUI_ERROR_INITIALIZATION;
        }
        if (text_epoch(box) != epoch) {
            return GUI_ERROR_NONE; // a newer text replaced this one while the queue was served
        }
    }
    // As after WM_SETTEXT: the caret at the start, the text shown from its top, nothing to undo.
    SendMessageA(box, EM_SETSEL, 0, 0);
    SendMessageA(box, EM_SCROLLCARET, 0, 0);
    SendMessageA(box, EM_EMPTYUNDOBUFFER, 0, 0);
    SendMessageA(box, EM_SETMODIFY, FALSE, 0);
    return GUI_ERROR_NONE;
}
