// The core's pieces that the command-line cases cannot see: buffer growth, error reports and
// the per-thread trace, and file input and output (failed saves under real faults: tests/hostile).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "core/file_io.h"
#include "core/report.h"
#include "core/result_format.h"

namespace {

namespace fs = std::filesystem;

// Collects the reports made while it lives.
struct ReportCapture {
    static inline std::vector<std::string> texts;
    ReportCapture() {
        texts.clear();
        report_set_sink(
            [](const char*, const char* text, const ErrorReport*) { texts.push_back(text); });
    }
    ~ReportCapture() {
        report_set_sink(nullptr);
    }
};

// An empty folder of the test's own, removed with everything in it.
struct Folder : fs::path {
    Folder() : fs::path(fs::temp_directory_path() / ("quarnel-core-" + std::to_string(getpid()))) {
        fs::remove_all(*this);
        fs::create_directory(*this);
    }
    ~Folder() {
        fs::remove_all(*this);
    }
};

std::string file_read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

TEST(ResultBuffer, GrowsInWholePagesAndKeepsEveryPiece) {
    ResultBuffer buffer;
    ASSERT_EQ(result_buffer_init(&buffer), 1);
    std::string exact(4095, 'a'), big(10000, 'c');
    ASSERT_EQ(result_append(&buffer, 1, "%s", exact.c_str()), 1);
    EXPECT_EQ(buffer.capacity, 4096u);
    ASSERT_EQ(result_append(&buffer, 1, "%s", "b"), 1);
    ASSERT_EQ(result_append(&buffer, 1, "%s|%d", big.c_str(), 42), 1);
    EXPECT_EQ(std::string(buffer.text), exact + "b" + big + "|42");
    EXPECT_EQ(buffer.length, 4095u + 1 + 10000 + 3);
    EXPECT_EQ(buffer.capacity % 4096, 0u);
    result_buffer_free(&buffer);
}

TEST(ErrorReport, SystemCallFormsLongLineNumbersAndTheLengthLimit) {
    const char* gui = "gui_control_set_text";
    ErrorReport report{
        "Error accessing control", "app", 12345, "load_elf", 3,      gui_error_texts[3],
        gui_error_texts[0],        gui,   0,     nullptr,    nullptr};
    char caption[1024], text[1024];
    const std::string head = "Error accessing control\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                             "\t:[gui]:gui_control_set_text()";
    error_report_compose(&report, caption, text);
    EXPECT_EQ(text, head + "\r\n\tSystem Call Error"); // no failed call, last error 0
    EXPECT_STREQ(caption, "Error 12345");
    report.system_error = 5;
    report.system_call = "SetDlgItemText";
    report.system_text = "Access is denied.\r\n";
    error_report_compose(&report, caption, text);
    EXPECT_EQ(text, head + ":SetDlgItemText()\r\n\tSystem Call Error\r\n\tAccess is denied.\r\n");
    std::string long_message(2000, 'm');
    report.message = long_message.c_str();
    error_report_compose(&report, caption, text);
    EXPECT_EQ(text, long_message.substr(0, 1023));
}

TEST(ReportError, UsesTheThreadsTraceRecord) {
    ReportCapture reports;
    trace_begin("load_elf");
    trace_gui_enter("gui_control_set_text");
    errno = ENOENT;
    EXPECT_EQ(trace_end_call(trace_gui_system_failure("SetWindowText"), 301, "app", "Failed"), 0);
    // A check clears the toolkit's fields; the failed call's name stays.
    trace_begin("search");
    EXPECT_EQ(trace_context()->gui_function, nullptr);
    EXPECT_STREQ(trace_context()->system_call, "SetWindowText");
    EXPECT_EQ(trace_end_call(GUI_ERROR_NONE, 459, "app", "Failed"), 1);
    EXPECT_EQ(reports.texts, std::vector<std::string>{
                                 std::string("Failed\r\n\r\nTrace\r\n\t[app]:load_elf()\r\n"
                                             "\t:[gui]:gui_control_set_text():SetWindowText()\r\n"
                                             "\tSystem Call Error\r\n\t") +
                                 strerror(ENOENT)});
}

// An empty file once read as a failure: it is an empty text.
TEST(LoadFile, GivesEveryByteAndAnEmptyFileIsAnEmptyText) {
    ReportCapture reports;
    Folder folder;
    for (const std::string& bytes : {std::string("ab\r\n\0cd\xFF", 8), std::string()}) {
        std::ofstream(folder / "f", std::ios::binary) << bytes;
        unsigned long size = 99;
        char* text = load_file_sized((folder / "f").c_str(), &size);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text, size + 1), bytes + '\0');
        free(text);
    }
    EXPECT_TRUE(reports.texts.empty());
}

// Saves go through a temporary file renamed over the target; an empty text once failed.
TEST(SaveFile, WritesExactlyTheTextThroughLinksKeepingPermissionsAndLeavesNothingElse) {
    ReportCapture reports;
    Folder folder;
    EXPECT_EQ(save_file((folder / "r.txt").c_str(), "ab\r\n"), 1);
    EXPECT_EQ(file_read(folder / "r.txt"), "ab\r\n");
    EXPECT_EQ(save_file((folder / "empty.txt").c_str(), ""), 1);
    EXPECT_EQ(fs::file_size(folder / "empty.txt"), 0u);
    fs::permissions(folder / "r.txt", fs::perms(0640));
    fs::create_symlink("r.txt", folder / "link.txt");
    EXPECT_EQ(save_file((folder / "link.txt").c_str(), "new"), 1);
    EXPECT_TRUE(fs::is_symlink(folder / "link.txt"));
    EXPECT_EQ(file_read(folder / "r.txt"), "new");
    EXPECT_EQ(fs::status(folder / "r.txt").permissions(), fs::perms(0640));
    EXPECT_TRUE(reports.texts.empty());

    EXPECT_EQ(save_file((folder / "none/r.txt").c_str(), "text"), 0);
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0].rfind("Error opening file\r\n", 0), 0u) << reports.texts[0];
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
              3); // r.txt, empty.txt, link.txt: no temporary file left
}

// `--output /dev/null` or a pipe: renaming a new file over them once replaced the device (as
// root) or left the reader with nothing.
TEST(SaveFile, DevicesAndPipesAreWrittenInPlaceNeverReplaced) {
    ReportCapture reports;
    Folder folder;
    const std::string pipe = folder / "pipe", device = folder / "null";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    int read_end = open(pipe.c_str(), O_RDONLY | O_NONBLOCK); // a reader, there first
    ASSERT_GE(read_end, 0);
    EXPECT_EQ(save_file(pipe.c_str(), "through the pipe\r\n"), 1);
    char received[64] = {};
    EXPECT_EQ(read(read_end, received, sizeof received), 18);
    EXPECT_STREQ(received, "through the pipe\r\n");
    close(read_end);
    EXPECT_TRUE(fs::is_fifo(pipe));
    // No reader: refused after a short grace rather than waiting for one.
    EXPECT_EQ(save_file(pipe.c_str(), "nobody reads"), 0);
    EXPECT_TRUE(fs::is_fifo(pipe));
    ASSERT_EQ(reports.texts.size(), 1u);
    EXPECT_EQ(reports.texts[0].rfind("Error opening file\r\n", 0), 0u);

    // A null device of its own (root only), so that a fault cannot harm the system's.
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(save_file(device.c_str(), "gone"), 1);
        EXPECT_TRUE(fs::is_character_file(device));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
              fs::exists(device) ? 2 : 1); // no temporary file left
}

} // namespace
