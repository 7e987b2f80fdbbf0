// Sessions for the toolkit tests: a window description and a set-up step that the test chooses,
// and a recorder of the events that the window's handlers receive.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gui/gui.h"
#include "gui/gui_test.h"

constexpr uint32_t WAIT_MS = 20000;

struct Recorder {
    std::mutex mutex;
    std::vector<uint32_t> events;
    std::vector<std::thread::id> event_threads;
    std::vector<std::vector<std::string>> drops;
    std::function<void(uint32_t)> on_event; // runs inside the handler, after recording
    int close_result = 0;
    int closes = 0;

    std::vector<uint32_t> take_events() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<uint32_t> out;
        out.swap(events);
        return out;
    }
};

extern Recorder recorder;

struct SessionOptions {
    WindowDescription window;   // handlers are filled in by the session
    bool drops = true;          // on_drop set
    bool close_handler = false; // on_close set (returns recorder.close_result)
    std::function<int()> setup; // runs in app_main after the window exists
};

SessionOptions session_defaults();

// Runs a whole session; `body` runs on the test thread once set-up returned 0.
int session_run(const SessionOptions& options, std::function<void()> body);

// How many sessions this process has run.
int sessions_run();

// The GUI thread's id during the last session.
std::thread::id session_gui_thread();
