// Search bursts, drops and closing during scans, for a bounded time: one scan per click, no file
// replaced under a scan, no deadlock, and (under ThreadSanitizer) no race in Quarnel's code.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "app/controls.h"
#include "app/current_file.h"
#include "app/search.h"
#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "gui/gui_test.h"
#include "hostile_support.h"

namespace {

// Every 4096th word 0x3C0F0040: a Byte-aligned scan lasts long enough for clicks to land in it.
const uint32_t WORDS = 1 << 20;
const char* const SEARCH_TEXT = "3C0F0040\r\n24x20x05 3C\r\n";

// The text one search must leave, straight from the core.
std::string expected_result(const std::string& path) {
    ElfImage* image = read_elf(path.c_str());
    PatternList search{};
    pattern_list_parse(SEARCH_TEXT, &search);
    MatchList* list =
        find_matches(image, true, false, 1, search.count, search.values, search.masks);
    ResultBuffer buffer;
    result_buffer_init(&buffer);
    result_render(&buffer, &search, nullptr, list->head, image, false, FORMAT_ADDRESS);
    std::string text(buffer.text, buffer.length);
    result_buffer_free(&buffer);
    free_matches(list->head);
    pattern_list_free(&search);
    free_elf_image(image);
    return text;
}

std::string result_text() {
    uint32_t length = 0;
    gui_control_get_text_length(ID_RESULT, &length);
    std::string text(length + 1, '\0');
    EXPECT_EQ(gui_control_get_text(ID_RESULT, text.data(), length + 1), 0u);
    return text.c_str();
}

bool search_done() {
    auto done = [](void*) -> int {
        uint32_t enabled = 0;
        return !search_is_running() && gui_control_enabled(ID_SEARCH, &enabled) == 0 && enabled;
    };
    return gui_test_wait(done, nullptr, 120000) != 0;
}

// Without a display the session ends before the application starts. Every loop below stops at
// the first such session, so a machine without one fails with one line, not one per round.
#define ASSERT_WINDOW_STARTED()                                                                    \
    ASSERT_EQ(gui_test_entry_result(), 0) << "the window did not start (no display?)"

struct Round {
    std::string first, second, expected = {}; // two ELF files of the same content, one scan's text
    int searches_seen_running = 0, drops_during_search = 0;
};

TEST(Races, ClicksDropsAndClosingWhileSearchesRun) {
    ScratchDir dir;
    Round round{.first = dir.file("first.elf"), .second = dir.file("second.elf")};
    std::string bytes = make_elf_bytes(WORDS, 0x24020005);
    for (uint32_t i = 0; i < WORDS; i += 4096)
        bytes.replace(0x100 + 4 * size_t(i), 4, "\x40\x00\x0F\x3C", 4);
    write_whole_file(round.first, bytes);
    write_whole_file(round.second, bytes);
    round.expected = expected_result(round.first);
    ASSERT_GT(round.expected.size(), 1000u);

    auto start = std::chrono::steady_clock::now();
    int rounds = 0;
    char argv0[] = "quarnel";
    char* argv[] = {argv0, nullptr};
    while (rounds < 3 || seconds_since(start) < 10.0) {
        gui_test_run(
            app_main, 1, argv,
            [](void* context) {
                Round& r = *static_cast<Round*>(context);
                ASSERT_TRUE(gui_test_drop(("file://" + r.first + "\r\n").c_str()));
                ASSERT_TRUE(gui_test_settle(60000));
                ASSERT_STREQ(loaded_file_name, "first.elf");
                ASSERT_EQ(gui_control_set_text(ID_SEARCH_PATTERNS, SEARCH_TEXT), 0u);
                for (auto id :
                     {ID_FORMAT_ADDRESS, ID_ALIGNMENT_BYTE, ID_RANGE_EXECUTABLE, ID_ENDIAN_BIG})
                    ASSERT_TRUE(gui_test_click(id));

                // A burst of clicks: the first starts a scan, the others must not start another.
                for (int i = 0; i < 20; i++)
                    ASSERT_TRUE(gui_test_click(ID_SEARCH));
                // A drop while the scan runs must leave the file alone.
                bool before = search_is_running();
                ASSERT_TRUE(gui_test_drop(("file://" + r.second + "\r\n").c_str()));
                bool after = search_is_running();
                if (before && after) {
                    r.drops_during_search++;
                    EXPECT_STREQ(loaded_file_name, "first.elf");
                }
                r.searches_seen_running += before;
                ASSERT_TRUE(search_done());
                EXPECT_TRUE(result_text() == r.expected) << "the result is not one scan's text";

                // Searches started back to back, then the window closed under the last one.
                for (int i = 0; i < 3; i++) {
                    ASSERT_TRUE(gui_test_click(ID_SEARCH));
                    ASSERT_TRUE(search_done());
                    EXPECT_TRUE(result_text() == r.expected);
                }
                ASSERT_TRUE(gui_test_click(ID_SEARCH));
                ASSERT_TRUE(gui_test_close());
            },
            &round);
        ASSERT_WINDOW_STARTED();
        ASSERT_FALSE(HasFatalFailure());
        // The search left running must end on its own; no window is left to report it.
        auto closed = std::chrono::steady_clock::now();
        while (search_is_running() && seconds_since(closed) < 120.0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_FALSE(search_is_running()) << "a search never ended: deadlock";
        rounds++;
    }
    // Unless the burst met running scans, the test proved nothing.
    EXPECT_GT(round.searches_seen_running, 0) << rounds << " rounds";
    printf("%d rounds, %d drops landed during a scan\n", rounds, round.drops_during_search);
}

// Toolkit calls from other threads while the window closes each come back, served or failed.
// Shutdown once read the queued calls again after handing them back, from dead stack frames.
TEST(Races, ToolkitCallsInFlightWhenTheWindowCloses) {
    // Sanitizer sessions are slower; fewer still catch the fault, and the sanitizer sees more.
    const int sessions = time_factor() > 1 ? 30 : 100, threads = 4;
    for (int s = 0; s < sessions; s++) {
        struct {
            std::atomic<int> failed{0};
            std::vector<std::thread> callers;
        } calls;
        char argv0[] = "quarnel";
        char* argv[] = {argv0, nullptr};
        gui_test_run(
            app_main, 1, argv,
            [](void* context) {
                auto& c = *static_cast<decltype(calls)*>(context);
                for (int t = 0; t < threads; t++)
                    c.callers.emplace_back([&failed = c.failed] {
                        uint32_t length = 0;
                        while (gui_control_set_text(ID_RESULT, "busy") == 0 &&
                               gui_control_get_text_length(ID_RESULT, &length) == 0) {
                        }
                        failed++;
                    });
                ASSERT_TRUE(gui_test_close());
            },
            &calls);
        for (std::thread& caller : calls.callers)
            caller.join();
        ASSERT_WINDOW_STARTED();
        EXPECT_EQ(calls.failed.load(), threads);
    }
}

} // namespace
