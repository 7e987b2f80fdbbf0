// A result-sized text through a multi-line box: the window keeps serving its loop while the text
// goes in, and the box holds every byte once the call returns. Written over gui.h and
// gui_test.h only, so that it runs on every backend. The build picks a size that each backend
// takes in a few seconds (BIG_TEXT_LINES); QUARNEL_BIG_TEXT_LINES=1000000 measures a million.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gui/gui.h"
#include "gui/gui_test.h"

namespace {

enum : uint32_t { ID_BOX = 1, ID_SMALL = 2 };
constexpr uint32_t SETTLE_MS = 120000;

// The longest stall of the GUI thread that a user would not take for a hang; room for a busy
// shared machine and a sanitizer build (the window system's own work is not instrumented).
constexpr int64_t STALL_BOUND_MS = 2000;

} // namespace

int app_main(uint32_t, char**) {
    const WindowDescription window = {"Big text", 600, 556,     20,      30,
                                      5,          0,   nullptr, nullptr, nullptr};
    gui_window_create(&window);
    // The application's result box: multi-line, scroll bars, fixed font (0x161).
    ErrorCode failed = gui_control_create(GUI_EDIT, "", 0x161, ID_BOX, 14, 20, 567, 172);
    failed |= gui_control_create(GUI_EDIT, "", 0x161, ID_SMALL, 14, 200, 567, 100);
    return failed != 0;
}

namespace {

uint32_t big_text_lines() {
    const char* lines = getenv("QUARNEL_BIG_TEXT_LINES");
    return lines && atoi(lines) > 0 ? uint32_t(atoi(lines)) : BIG_TEXT_LINES;
}

// An Address result: two header lines, then "%08X //%08X" CR LF per match, an empty line.
std::string address_result(uint32_t matches) {
    std::string text = "//Search pattern: 24020005\r\n//Search mask:    FFFFFFFF\r\n";
    text.reserve(text.size() + 21 * size_t(matches) + 2);
    char line[32];
    for (uint32_t n = 0; n < matches; n++) {
        text.append(line, snprintf(line, sizeof line, "%08X //24020005\r\n", 0x100100 + 4 * n));
    }
    return text + "\r\n";
}

// FNV-1a: a short name for a long text in a failure message.
uint64_t checksum(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325u;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 0x100000001b3u;
    }
    return hash;
}

std::string read_back(uint32_t id) {
    uint32_t length = 0;
    if (gui_control_get_text_length(id, &length) != 0) {
        return "(no length)";
    }
    std::string text(size_t(length) + 1, '\0');
    if (gui_control_get_text(id, text.data(), length + 1) != 0) {
        return "(no text)";
    }
    text.resize(length);
    return text;
}

struct Step {
    const char* name;
    std::string text;
    int64_t stall_ms = -1;
    double set_seconds = 0;
};

struct Steps {
    std::vector<Step> steps;
};

// Each step is set from this thread, as the search thread sets its result, with the heartbeat
// running, between a disable and an enable as the search does; then read back whole.
void set_each(void* context) {
    Steps& run = *static_cast<Steps*>(context);
    ASSERT_TRUE(gui_test_settle(SETTLE_MS));
    for (Step& step : run.steps) {
        ASSERT_TRUE(gui_test_heartbeat_start(10));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(gui_control_enable(ID_BOX, 0), 0u);
        EXPECT_EQ(gui_control_set_text(ID_BOX, step.text.c_str()), 0u) << step.name;
        EXPECT_EQ(gui_control_enable(ID_BOX, 1), 0u);
        step.set_seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // Stopped on the GUI thread once it is free: a stall at the end counts as well.
        step.stall_ms = gui_test_heartbeat_stop();
        printf("%-26s %9zu bytes: set in %.2f s, longest stall %lld ms\n", step.name,
               step.text.size(), step.set_seconds, static_cast<long long>(step.stall_ms));
        fflush(stdout);
        std::string back = read_back(ID_BOX);
        EXPECT_EQ(back.size(), step.text.size()) << step.name;
        EXPECT_EQ(checksum(back), checksum(step.text)) << step.name;
        // The other box is untouched by the big one.
        EXPECT_EQ(read_back(ID_SMALL), "") << step.name;
    }
}

TEST(BigText, AResultSizedTextGoesInWholeWithoutStallingTheWindow) {
    Steps run;
    run.steps.push_back({"a big result", address_result(big_text_lines())});
    // Replaced by a small text, as the next search's "Searching..." does, then by the big one
    // again, then over itself, then by nothing.
    run.steps.push_back({"a short text after it", "Searching..."});
    // Bytes that are not UTF-8 read back as they were set.
    run.steps.push_back({"again, with a Latin-1 byte", run.steps[0].text + "caf\xe9\r\n"});
    run.steps.push_back({"the big text over itself", run.steps[0].text});
    run.steps.push_back({"emptied", ""});
    ASSERT_EQ(gui_test_run(app_main, 0, nullptr, set_each, &run), 0);
    ASSERT_NE(gui_test_entry_result(), -1) << "the toolkit did not start: is there a display?";
    for (const Step& step : run.steps) {
        EXPECT_GE(step.stall_ms, 0) << step.name;
        EXPECT_LT(step.stall_ms, STALL_BOUND_MS) << step.name;
    }
}

} // namespace

namespace {

struct Race {
    std::string first, second, back;
};

// Two threads set two big texts at once: whichever lands last, it lands whole, never pieces of
// both.
void set_both(void* context) {
    Race& race = *static_cast<Race*>(context);
    ASSERT_TRUE(gui_test_settle(SETTLE_MS));
    ErrorCode first_code = 1;
    std::thread other([&] { first_code = gui_control_set_text(ID_BOX, race.first.c_str()); });
    EXPECT_EQ(gui_control_set_text(ID_BOX, race.second.c_str()), 0u);
    other.join();
    EXPECT_EQ(first_code, 0u);
    race.back = read_back(ID_BOX);
    // Spares the session's end the box's layout of the big text.
    EXPECT_EQ(gui_control_set_text(ID_BOX, ""), 0u);
}

TEST(BigText, TwoBigTextsSetAtOnceLeaveOneOfThemWhole) {
    Race race;
    race.first = address_result(big_text_lines() / 2);
    race.second = race.first;
    std::replace(race.second.begin(), race.second.end(), '/', '#');
    ASSERT_EQ(gui_test_run(app_main, 0, nullptr, set_both, &race), 0);
    ASSERT_NE(gui_test_entry_result(), -1) << "the toolkit did not start: is there a display?";
    EXPECT_TRUE(race.back == race.first || race.back == race.second)
        << race.back.size() << " bytes read back, " << race.first.size() << " set";
}

} // namespace
