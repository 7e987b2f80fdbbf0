// Sessions for the toolkit tests (see gtk_session.h).
#include "gtk_session.h"

#include <gtest/gtest.h>

#include <cstring>

Recorder recorder;
static SessionOptions current;
static std::thread::id gui_thread;
static int session_count;

int sessions_run() {
    return session_count;
}

static void record_event(uint32_t id) {
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        recorder.events.push_back(id);
        recorder.event_threads.push_back(std::this_thread::get_id());
    }
    if (recorder.on_event) {
        recorder.on_event(id);
    }
}

static void record_drop(uint32_t* count, char** names) {
    std::vector<std::string> paths(names, names + *count);
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.drops.push_back(paths);
}

static int record_close() {
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.closes++;
    return recorder.close_result;
}

SessionOptions session_defaults() {
    SessionOptions options;
    std::memset(&options.window, 0, sizeof options.window);
    options.window.title = "Quarnel test";
    options.window.width = 600;
    options.window.height = 556;
    options.window.x = 20;
    options.window.y = 30;
    options.window.background = 5;
    return options;
}

int app_main(uint32_t, char**) {
    WindowDescription window = current.window;
    window.on_event = record_event;
    window.on_drop = current.drops ? record_drop : nullptr;
    window.on_close = current.close_handler ? record_close : nullptr;
    gui_window_create(&window);
    return current.setup ? current.setup() : 0;
}

static void body_trampoline(void* context) {
    (*static_cast<std::function<void()>*>(context))();
}

static void note_gui_thread(void*) {
    gui_thread = std::this_thread::get_id();
}

int session_run(const SessionOptions& options, std::function<void()> body) {
    current = options;
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        recorder.events.clear();
        recorder.event_threads.clear();
        recorder.drops.clear();
        recorder.closes = 0;
    }
    std::function<void()> wrapped = [&] {
        gui_test_on_gui_thread(note_gui_thread, nullptr);
        body();
    };
    session_count++;
    int code = gui_test_run(nullptr, 0, nullptr, body_trampoline, &wrapped);
    // A toolkit that could not start (no X server) must not look like a passing test.
    EXPECT_NE(gui_test_entry_result(), -1) << "the toolkit did not start: is there a display?";
    return code;
}

std::thread::id session_gui_thread() {
    return gui_thread;
}
