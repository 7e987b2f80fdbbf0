#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_io.h"
#include "fixtures.h"

namespace {

// A fresh folder per test, removed with everything in it afterwards.
class FileIo : public testing::Test {
  protected:
    std::string folder;

    void SetUp() override {
        char name[] = "/tmp/quarnel-io-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder = name;
    }
    void TearDown() override {
        for (const std::string& entry : entries()) {
            std::string path = folder + "/" + entry;
            if (rmdir(path.c_str()) != 0) {
                unlink(path.c_str());
            }
        }
        rmdir(folder.c_str());
    }
    std::string path(const char* name) const {
        return folder + "/" + name;
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        DIR* dir = opendir(folder.c_str());
        while (dirent* entry = dir ? readdir(dir) : nullptr) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        if (dir) {
            closedir(dir);
        }
        return names;
    }
    static void write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
};

TEST_F(FileIo, LoadGivesTheBytesAndATerminator) {
    ReportCapture reports;
    std::string bytes("ab\r\n\0cd\xFF", 8);
    write(path("p.txt"), bytes);
    unsigned long size = 0;
    char* text = load_file_sized(path("p.txt").c_str(), &size);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::string(text, 9), bytes + '\0');
    free(text);

    write(path("empty.txt"), "");
    text = load_file(path("empty.txt").c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    free(text);
    EXPECT_TRUE(reports.entries.empty());
}

TEST_F(FileIo, LoadFailuresAreReported) {
    ReportCapture reports;
    EXPECT_EQ(load_file(path("missing.txt").c_str()), nullptr);
    EXPECT_EQ(load_file(folder.c_str()), nullptr);
    ASSERT_EQ(reports.entries.size(), 2u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0736");
    EXPECT_EQ(reports.entries[0].text,
              "Error opening file\r\n\r\nTrace\r\n\t[core]:load_file()\r\n");
    EXPECT_EQ(reports.entries[1].caption, "Error 0751");
    EXPECT_EQ(reports.entries[1].message, "Error reading file");
}

TEST_F(FileIo, SaveWritesExactlyTheText) {
    ReportCapture reports;
    EXPECT_EQ(save_file(path("r.txt").c_str(), "ab\r\n"), 1);
    EXPECT_EQ(read(path("r.txt")), "ab\r\n");
    EXPECT_EQ(save_file(path("r.txt").c_str(), "shorter"), 1);
    EXPECT_EQ(read(path("r.txt")), "shorter");
    EXPECT_EQ(save_file(path("r.txt").c_str(), ""), 1);
    struct stat info;
    ASSERT_EQ(stat(path("r.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0);
    EXPECT_EQ(save_file(path("new.txt").c_str(), ""), 1);
    EXPECT_EQ(read(path("new.txt")), "");
    EXPECT_TRUE(reports.entries.empty());
    EXPECT_EQ(entries().size(), 2u) << "no temporary file may stay behind";
}

TEST_F(FileIo, SaveKeepsPermissionsAndLinks) {
    write(path("target.txt"), "old");
    chmod(path("target.txt").c_str(), 0640);
    ASSERT_EQ(symlink("target.txt", path("link.txt").c_str()), 0);
    EXPECT_EQ(save_file(path("link.txt").c_str(), "new"), 1);
    struct stat info;
    ASSERT_EQ(lstat(path("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read(path("target.txt")), "new");
    ASSERT_EQ(stat(path("target.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(FileIo, FailedSaveLeavesTheOldFile) {
    ReportCapture reports;
    write(path("r.txt"), "the old result");

    // The file size limit makes the write itself fail, as a full disk would, also for root.
    struct rlimit old_limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old_limit;
    small.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    int saved = save_file(path("r.txt").c_str(), "a much longer new result");
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(read(path("r.txt")), "the old result");

    // A folder in the way: written, but the replacement fails.
    ASSERT_EQ(mkdir(path("sub").c_str(), 0755), 0);
    EXPECT_EQ(save_file(path("sub").c_str(), "text"), 0);

    // A folder that does not exist: the file cannot be created.
    EXPECT_EQ(save_file(path("none/r.txt").c_str(), "text"), 0);

    ASSERT_EQ(reports.entries.size(), 3u);
    EXPECT_EQ(reports.entries[0].caption, "Error 0768");
    EXPECT_EQ(reports.entries[0].text,
              "Error writing file\r\n\r\nTrace\r\n\t[core]:save_file()\r\n");
    EXPECT_EQ(reports.entries[1].caption, "Error 0768");
    EXPECT_EQ(reports.entries[2].caption, "Error 0765");
    EXPECT_EQ(reports.entries[2].message, "Error opening file");
    auto left = entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"r.txt", "sub"}));
}

} // namespace
