#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

#include "core/file_io.h"
#include "fixtures.h"

namespace fs = std::filesystem;

namespace {

class FileIo : public testing::Test {
  protected:
    fs::path folder = fs::temp_directory_path() / ("quarnel-io-" + std::to_string(getpid()));
    ReportCapture reports;

    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directory(folder);
    }
    void TearDown() override {
        fs::remove_all(folder);
    }
    std::string path(const char* name) const {
        return (folder / name).string();
    }
    static std::string read(const std::string& path) {
        std::stringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }
    // The folder's entries: a save must leave no temporary file behind.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(folder)) {
            out.push_back(entry.path().filename().string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST_F(FileIo, LoadGivesTheBytesAndATerminator) {
    std::string bytes("ab\r\n\0cd\xFF", 8);
    std::ofstream(path("p.txt"), std::ios::binary) << bytes;
    std::ofstream(path("empty.txt"), std::ios::binary);
    unsigned long size = 0;
    char* text = load_file_sized(path("p.txt").c_str(), &size);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, size + 1), bytes + '\0');
    free(text);
    text = load_file(path("empty.txt").c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    free(text);
    EXPECT_TRUE(reports.entries.empty());

    EXPECT_EQ(load_file(path("missing.txt").c_str()), nullptr);
    EXPECT_EQ(load_file(folder.c_str()), nullptr);
    ASSERT_EQ(reports.entries.size(), 2u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0736");
    EXPECT_EQ(reports.entries[0].text,
              "Error opening file\r\n\r\nTrace\r\n\t[core]:load_file()\r\n");
    EXPECT_EQ(reports.entries[1].caption, "Error 0751");
}

TEST_F(FileIo, SaveWritesExactlyTheTextThroughLinksKeepingPermissions) {
    EXPECT_EQ(save_file(path("r.txt").c_str(), "ab\r\n"), 1);
    EXPECT_EQ(read(path("r.txt")), "ab\r\n");
    EXPECT_EQ(save_file(path("r.txt").c_str(), ""), 1);
    EXPECT_EQ(fs::file_size(path("r.txt")), 0u);
    EXPECT_EQ(save_file(path("new.txt").c_str(), ""), 1);
    EXPECT_EQ(names(), (std::vector<std::string>{"new.txt", "r.txt"}));

    fs::permissions(path("r.txt"), fs::perms(0640));
    fs::create_symlink("r.txt", path("link.txt"));
    EXPECT_EQ(save_file(path("link.txt").c_str(), "new"), 1);
    EXPECT_TRUE(fs::is_symlink(path("link.txt")));
    EXPECT_EQ(read(path("r.txt")), "new");
    EXPECT_EQ(fs::status(path("r.txt")).permissions(), fs::perms(0640));
    EXPECT_TRUE(reports.entries.empty());
}

TEST_F(FileIo, FailedSaveLeavesTheOldFile) {
    std::ofstream(path("r.txt"), std::ios::binary) << "the old result";
    // A file size limit makes the write fail as a full disk would, also for root.
    rlimit old_limit, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    small = old_limit;
    small.rlim_cur = 8;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int saved = save_file(path("r.txt").c_str(), "a much longer new result");
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(read(path("r.txt")), "the old result");
    EXPECT_EQ(save_file(path("none/r.txt").c_str(), "text"), 0); // cannot be created

    ASSERT_EQ(reports.entries.size(), 2u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0768");
    EXPECT_EQ(reports.entries[0].text,
              "Error writing file\r\n\r\nTrace\r\n\t[core]:save_file()\r\n");
    EXPECT_EQ(reports.entries[1].caption, "Error 0765");
    EXPECT_EQ(names(), (std::vector<std::string>{"r.txt"}));
}

} // namespace
