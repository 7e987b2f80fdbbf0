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

// Where the piece that starts at `from` ends: after its last line end, so that a CR LF pair is
// never cut in two, or the whole piece (less a CR at its end) when it holds no line end.
static size_t piece_end(const char* text, size_t from, size_t piece, size_t length) {
    size_t end = std::min(length, from + piece);
    if (end == length) {
        return end;
    }
    for (size_t at = end; at > from; at--) {
        if (text[at - 1] == '\n') {
            return at;
        }
    }
    if (end > from + 1 && text[end - 1] == '\r') {
        end--;
    }
    return end;
}

// How many bytes the next piece takes. Wine's control pays, for every piece, a walk over all the
// lines it already holds and a copy of its whole buffer, so pieces of a fixed size cost in all
// the square of the text's length. A piece is therefore never less than an eighth of the text
// already in: the pieces then number a few dozen, and their fixed cost stays a small part of the
// whole. Above that, the size follows the time the last piece (of `piece` bytes) took, toward
// `target_ms`, since a line costs differently on each system.
static size_t piece_next(size_t piece, size_t done, double spent_ms) {
    const double target_ms = 100;
    const size_t smallest = 64 << 10, largest = 4 << 20;
    double scale = spent_ms > 0 ? target_ms / spent_ms : 2.0;
    scale = std::min(std::max(scale, 0.25), 2.0);
    return std::max({std::min(size_t(double(piece) * scale), largest), smallest, done / 8});
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
    size_t done = 0, piece = 64 << 10;
    DWORD caret = 0; // where the last piece left the caret: the end of the text
    while (done < length) {
        size_t end = piece_end(text, done, piece, length);
        piece_text.assign(text + done, text + end);
        piece_text.push_back('\0');
        auto start = clock::now();
        // Placing the caret makes the control find its line among all the lines already in, so it
        // is placed only when something moved it away from the end where the last piece left it.
        DWORD from = 0, to = 0;
        SendMessageA(box, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        if (from != caret || to != caret) {
            SendMessageA(box, EM_SETSEL, INT_MAX, INT_MAX);
        }
        SendMessageA(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece_text.data()));
        SendMessageA(box, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&caret));
        std::chrono::duration<double, std::milli> spent = clock::now() - start;
        piece = piece_next(end - done, end, spent.count());
        done = end;
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
