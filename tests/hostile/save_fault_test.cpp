// Saving under failure: a write, a flush or a rename that fails must be reported with the right
// message, leave the file that was there byte for byte as it was, and leave no temporary file
// behind. Each fault is produced by a real mechanism of the system (a file size limit, a full
// file system, an immutable folder or file); a mechanism this machine does not offer skips its
// test with the reason.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "core/file_io.h"
#include "hostile_support.h"

namespace {

const std::string OLD_CONTENT = "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n";

struct SaveOutcome {
    int result = -1;      // save_file's return value; -1 when the child died
    std::string messages; // the reports, one per line
};

// Runs save_file in a child process, so that limits set for the fault stay out of the test.
SaveOutcome save_in_child(const std::string& path, const std::string& text,
                          const std::function<void()>& set_up_fault = {}) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return {};
    pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        if (set_up_fault)
            set_up_fault();
        std::string out;
        {
            ReportCatcher catcher;
            out = std::to_string(save_file(path.c_str(), text.c_str())) + "\n";
            for (const std::string& m : catcher.messages)
                out += m + "\n";
        }
        ssize_t written = write(pipe_ends[1], out.data(), out.size());
        _exit(written == ssize_t(out.size()) ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::string reply;
    char chunk[256];
    ssize_t got;
    while ((got = read(pipe_ends[0], chunk, sizeof chunk)) > 0)
        reply.append(chunk, size_t(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    SaveOutcome outcome;
    size_t line_end = reply.find('\n');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line_end == std::string::npos)
        return outcome;
    outcome.result = std::stoi(reply.substr(0, line_end));
    outcome.messages = reply.substr(line_end + 1);
    return outcome;
}

// The immutable flag (chattr +i), which stops even root from creating, replacing or removing.
bool set_immutable(const std::string& path, bool on) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

// Expects a failed save with exactly `message`, the old file intact and the folder unchanged.
void expect_failed_save_kept_old_file(const SaveOutcome& outcome, const std::string& message,
                                      const std::string& dir, const std::string& target,
                                      const std::vector<std::string>& names_before) {
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.messages, message + "\n");
    EXPECT_EQ(read_whole_file(target), OLD_CONTENT);
    EXPECT_EQ(list_dir(dir), names_before) << "a temporary file was left behind";
}

std::string big_text(size_t bytes) {
    std::string text;
    while (text.size() < bytes)
        text += "patch=1,EE,00100100,word,24020001 //24020005\r\n";
    return text;
}

TEST(SaveFaults, ASuccessfulSaveReplacesTheFileAndLeavesNothingElse) {
    ScratchDir dir;
    std::string target = dir.file("result.pnach");
    write_whole_file(target, OLD_CONTENT);
    for (const std::string& text : {std::string("ab\r\n"), big_text(1 << 20), std::string()}) {
        SaveOutcome outcome = save_in_child(target, text);
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.messages, "");
        EXPECT_EQ(read_whole_file(target), text);
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"result.pnach"});
    }
}

// Saving over a link writes the file it points to, keeping the link and the file's permissions,
// and leaves no temporary file in either folder.
TEST(SaveFaults, ASaveThroughALinkWritesTheLinkedFileAndKeepsItsMode) {
    ScratchDir dir;
    std::string real_folder = dir.file("real"), link_folder = dir.file("links");
    mkdir(real_folder.c_str(), 0700);
    mkdir(link_folder.c_str(), 0700);
    std::string real = real_folder + "/result.pnach", link = link_folder + "/result.pnach";
    write_whole_file(real, OLD_CONTENT);
    chmod(real.c_str(), 0640);
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    SaveOutcome outcome = save_in_child(link, "ab\r\n");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.messages, "");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(read_whole_file(real), "ab\r\n");
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(list_dir(real_folder), std::vector<std::string>{"result.pnach"});
    EXPECT_EQ(list_dir(link_folder), std::vector<std::string>{"result.pnach"});
}

// A file size limit (RLIMIT_FSIZE) makes the kernel refuse bytes past the limit, exactly like
// a full disk: a short text fails when the buffered bytes are flushed or the file is closed,
// a long one while it is written.
TEST(SaveFaults, AWriteOrFlushPastTheFileSizeLimitKeepsTheOldFile) {
    ScratchDir dir;
    std::string target = dir.file("result.pnach");
    for (size_t size : {size_t(200), size_t(1) << 20}) {
        SCOPED_TRACE(size);
        write_whole_file(target, OLD_CONTENT);
        std::vector<std::string> before = list_dir(dir.path);
        SaveOutcome outcome = save_in_child(target, big_text(size), [] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{100, 100};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
        expect_failed_save_kept_old_file(outcome, "Error writing file", dir.path, target, before);
    }
}

// A small tmpfs filled up: the genuine "no space left on device".
TEST(SaveFaults, AFullFileSystemKeepsTheOldFile) {
    ScratchDir dir;
    std::string mount_point = dir.file("small");
    mkdir(mount_point.c_str(), 0700);
    if (mount("quarnel-test", mount_point.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno)
                     << "); needs root or CAP_SYS_ADMIN";
    std::string target = mount_point + "/result.pnach";
    write_whole_file(target, OLD_CONTENT);
    // Fill what is left, so that the new text cannot fit beside the old file.
    std::string filler = mount_point + "/filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    close(fd);
    std::vector<std::string> before = list_dir(mount_point);
    for (size_t size : {size_t(200), size_t(64) << 10}) {
        SCOPED_TRACE(size);
        SaveOutcome outcome = save_in_child(target, big_text(size));
        expect_failed_save_kept_old_file(outcome, "Error writing file", mount_point, target,
                                         before);
    }
    umount2(mount_point.c_str(), MNT_DETACH);
}

// A folder where nothing can be created: no temporary file, so nothing can be saved there.
TEST(SaveFaults, AFolderThatRefusesNewFilesKeepsTheOldFile) {
    ScratchDir dir;
    std::string folder = dir.file("locked");
    mkdir(folder.c_str(), 0700);
    std::string target = folder + "/result.pnach";
    write_whole_file(target, OLD_CONTENT);
    std::vector<std::string> before = list_dir(folder);
    bool locked = geteuid() == 0 ? set_immutable(folder, true) : chmod(folder.c_str(), 0500) == 0;
    if (!locked)
        GTEST_SKIP() << "cannot make a folder refuse new files here (" << strerror(errno) << ")";
    SaveOutcome outcome = save_in_child(target, "ab\r\n");
    if (geteuid() == 0)
        set_immutable(folder, false);
    else
        chmod(folder.c_str(), 0700);
    expect_failed_save_kept_old_file(outcome, "Error opening file", folder, target, before);
}

// The new text is written, but it cannot replace the target: the last step fails.
TEST(SaveFaults, AFailedReplaceKeepsTheOldFileAndRemovesTheNewOne) {
    ScratchDir dir;
    std::string target = dir.file("result.pnach");
    write_whole_file(target, OLD_CONTENT);
    std::vector<std::string> before = list_dir(dir.path);
    if (!set_immutable(target, true))
        GTEST_SKIP() << "cannot set the immutable flag here (" << strerror(errno)
                     << "); needs root on a file system that has it";
    SaveOutcome outcome = save_in_child(target, "ab\r\n");
    set_immutable(target, false);
    expect_failed_save_kept_old_file(outcome, "Error writing file", dir.path, target, before);
}

// Names that cannot be saved to at all: a missing folder, and a folder standing where the file
// would go. Either is refused with one report, and nothing appears.
TEST(SaveFaults, PathsThatCannotHoldAFileAreRefusedCleanly) {
    ScratchDir dir;
    SaveOutcome outcome = save_in_child(dir.file("missing/result.pnach"), "ab\r\n");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.messages, "Error opening file\n");
    EXPECT_TRUE(list_dir(dir.path).empty());

    std::string folder = dir.file("result.pnach");
    mkdir(folder.c_str(), 0700);
    write_whole_file(folder + "/inside", OLD_CONTENT);
    outcome = save_in_child(folder, "ab\r\n");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.messages == "Error opening file\n" ||
                outcome.messages == "Error writing file\n")
        << outcome.messages;
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"result.pnach"});
    EXPECT_EQ(read_whole_file(folder + "/inside"), OLD_CONTENT);
}

// Pattern files that are not ordinary small files: a folder, and sparse files of 2 GiB and of
// 4 GiB + 16 bytes (whose size does not fit 32 bits). Each is refused with one report, at once,
// instead of being read whole or read short.
TEST(LoadFaults, FilesLoadCannotHoldAreRefusedAtOnce) {
    ScratchDir dir;
    std::string big = dir.file("big.txt");
    for (uint64_t size : {uint64_t(1) << 31, (uint64_t(1) << 32) + 16}) {
        SCOPED_TRACE(size);
        write_whole_file(big, "DEADBEEF\r\n");
        ASSERT_EQ(truncate(big.c_str(), off_t(size)), 0);
        ReportCatcher catcher;
        auto start = std::chrono::steady_clock::now();
        char* text = load_file(big.c_str());
        EXPECT_EQ(text, nullptr);
        free(text);
        EXPECT_LT(seconds_since(start), 1.0 * time_factor());
        ASSERT_EQ(catcher.messages.size(), 1u);
        EXPECT_TRUE(catcher.messages[0] == "Error reading file" ||
                    catcher.messages[0] == "Error allocating memory for file")
            << catcher.messages[0];
    }
    ReportCatcher catcher;
    char* text = load_file(dir.path.c_str());
    EXPECT_EQ(text, nullptr);
    free(text);
    EXPECT_EQ(catcher.messages.size(), 1u);
}

} // namespace
