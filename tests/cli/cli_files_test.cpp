// quarnel-cli and the files it does not own: pattern files that are pipes, and an ELF file
// cut short while it is mapped and searched. POSIX only (pipes, truncate, bash).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status; // exit status, or -1 for a signal
    std::string out, err;
};

std::string file_read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

class CliFiles : public testing::Test {
  protected:
    std::string dir;

    void SetUp() override {
        dir = fs::temp_directory_path() / ("quarnel-cli-files-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::remove_all(dir);
    }

    // A zero-filled ELF of `size` bytes with one executable segment over all of it.
    std::string elf_write(uint32_t size) {
        std::string f(size, '\0');
        f.replace(0, 7, "\177ELF\1\1\1");
        auto put = [&](uint32_t at, uint32_t v, uint32_t n) {
            for (uint32_t k = 0; k < n; k++)
                f[at + k] = char(v >> (8 * k));
        };
        put(28, 52, 4);
        put(44, 1, 2);
        const uint32_t header[] = {1, 0, 0x100000, 0x100000, size, size, 5};
        for (uint32_t k = 0; k < 7; k++)
            put(52 + 4 * k, header[k], 4);
        std::string path = dir + "/game.elf";
        std::ofstream(path, std::ios::binary) << f;
        return path;
    }

    Outcome run(const std::string& arguments) {
        std::string command =
            "cd '" + dir + "' && bash -c '" QUARNEL_CLI " " + arguments + "' >out 2>err </dev/null";
        int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, file_read(dir + "/out"),
                file_read(dir + "/err")};
    }
};

TEST_F(CliFiles, ProcessSubstitutionIsReadToItsEnd) {
    elf_write(0x1000);
    Outcome r = run("--format address --search <(printf \"# comment\\n00000000\\n\" | grep -v ^#) "
                    "game.elf");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("//Search pattern: 00000000\r\n", 0), 0u) << r.out;
}

TEST_F(CliFiles, PipeWithoutWriterIsRefusedNotWaitedFor) {
    elf_write(0x1000);
    ASSERT_EQ(mkfifo((dir + "/p").c_str(), 0600), 0);
    auto start = std::chrono::steady_clock::now();
    Outcome r = run("--search p game.elf");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quarnel-cli: p: Error reading file (no program writes to the pipe)\n");
}

// Files that exist but cannot be read, even by root: a read the system refuses, and a link
// that leads round in a circle.
TEST_F(CliFiles, UnreadableFilesAreNamedWithTheSystemsReason) {
    elf_write(0x1000);
    fs::create_symlink("loop", dir + "/loop");
    const struct {
        const char* arguments;
        const char* err;
    } cases[] = {
        {"--search /proc/self/mem game.elf",
         "quarnel-cli: /proc/self/mem: Error reading file (Input/output error)\n"},
        {"--search loop game.elf",
         "quarnel-cli: loop: Error opening file (Too many levels of symbolic links)\n"},
        {"--search /dev/null loop",
         "quarnel-cli: loop: Invalid ELF file (Too many levels of symbolic links)\n"},
        {"--checksum /proc/self/status",
         "quarnel-cli: /proc/self/status: Invalid ELF file (too short for an ELF header)\n"},
        {"--search /dev/null /dev/null",
         "quarnel-cli: /dev/null: Invalid ELF file (not a regular file)\n"},
    };
    for (const auto& c : cases) {
        Outcome r = run(c.arguments);
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.err, c.err) << c.arguments;
    }
}

TEST_F(CliFiles, EndlessPipeStopsAtTheLimit) {
    elf_write(0x1000);
    Outcome r = run("--search <(head -c 300000000 /dev/zero) game.elf");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find("Error reading file (more than 256 MiB)\n"), r.err.size() - 39) << r.err;
}

// The ELF is opened and mapped before the pattern file is read; the pattern file is a named
// pipe, so this test knows when the mapping exists: when its own open of the pipe returns.
// It then cuts the file short and only afterwards hands over the patterns, so the scan must
// meet the missing pages (a bus fault) and the program must survive it.
TEST_F(CliFiles, FileCutShortUnderTheScanIsAnErrorNotACrash) {
    std::string elf = elf_write(16u << 20);
    std::string fifo = dir + "/p";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        int fd = open(fifo.c_str(), O_WRONLY); // returns once quarnel-cli reads the pipe
        ASSERT_GE(fd, 0);
        EXPECT_EQ(truncate(elf.c_str(), 4096), 0);
        const char patterns[] = "01020304\n";
        EXPECT_EQ(write(fd, patterns, sizeof patterns - 1), ssize_t(sizeof patterns - 1));
        close(fd);
    });
    Outcome r = run("--format address --search p game.elf");
    writer.join();
    EXPECT_EQ(r.status, 2) << "a signal ended the program: " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quarnel-cli: game.elf: Error reading file\n");
}

} // namespace
