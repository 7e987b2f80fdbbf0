// Saving under real faults of the system: a failed write, flush or rename is reported, leaves the
// old file byte for byte and no temporary file. A fault this machine cannot make is skipped.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <gtest/gtest.h>

#include "core/file_io.h"
#include "hostile_support.h"

namespace {

const std::string OLD_CONTENT = "patch=1,EE,00100008,word,3C0F0041 //3C0F0040\r\n";

enum Fault {
    SIZE_LIMIT,       // the kernel refuses bytes past RLIMIT_FSIZE, as on a full disk
    FULL_DISK,        // a small tmpfs filled up
    FOLDER_LOCKED,    // no temporary file can be made beside the target
    TARGET_IMMUTABLE, // the new text is written but cannot replace the target
    TARGET_IS_FOLDER, // a folder (not empty) stands where the file would go
};

struct FaultCase {
    const char* name;
    Fault fault;
    size_t text_bytes;   // a short text fails when flushed or closed, a long one while written
    const char* message; // null: "Error opening file" or "Error writing file"
};

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

// The immutable flag stops even root; other users get a folder without write permission.
bool lock(const std::string& path, bool on, bool folder) {
    if (geteuid() != 0)
        return folder && chmod(path.c_str(), on ? 0500 : 0700) == 0;
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK), flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        close(fd);
    return ok;
}

class SaveFault : public testing::TestWithParam<FaultCase> {};

TEST_P(SaveFault, IsReportedAndKeepsTheOldFileWithNoTemporaryLeft) {
    const FaultCase& c = GetParam();
    ScratchDir scratch;
    std::string dir = scratch.file("d"), target = dir + "/result.pnach";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    if (c.fault == FULL_DISK && mount("quarnel-test", dir.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs (" << strerror(errno) << "); needs CAP_SYS_ADMIN";
    std::string kept = c.fault == TARGET_IS_FOLDER ? target + "/inside" : target;
    if (c.fault == TARGET_IS_FOLDER)
        mkdir(target.c_str(), 0700);
    write_whole_file(kept, OLD_CONTENT);
    if (c.fault == FULL_DISK)
        write_whole_file(dir + "/filler", std::string(256 << 10, 'f')); // more than fits
    auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir), {}); };
    auto before = entries();
    std::string locked = c.fault == FOLDER_LOCKED ? dir : target;
    bool locking = c.fault == FOLDER_LOCKED || c.fault == TARGET_IMMUTABLE;
    if (locking && !lock(locked, true, c.fault == FOLDER_LOCKED))
        GTEST_SKIP() << "cannot make " << locked << " refuse changes here";

    std::string text;
    while (text.size() < c.text_bytes)
        text += "patch=1,EE,00100100,word,24020001 //24020005\r\n";
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small{100, old_limit.rlim_max};
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ReportCatcher catcher;
    if (c.fault == SIZE_LIMIT)
        setrlimit(RLIMIT_FSIZE, &small);
    int saved = save_file(target.c_str(), text.c_str());
    setrlimit(RLIMIT_FSIZE, &old_limit);
    signal(SIGXFSZ, old_handler);
    if (locking)
        lock(locked, false, c.fault == FOLDER_LOCKED);

    EXPECT_EQ(saved, 0);
    ASSERT_EQ(catcher.messages.size(), 1u);
    const std::string& said = catcher.messages[0];
    EXPECT_TRUE(c.message ? said == c.message
                          : said == "Error opening file" || said == "Error writing file")
        << said;
    EXPECT_EQ(read_whole_file(kept), OLD_CONTENT);
    EXPECT_EQ(entries(), before) << "a temporary file was left behind";
    if (c.fault == FULL_DISK)
        umount2(dir.c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SaveFault,
    testing::Values(FaultCase{"FlushPastSizeLimit", SIZE_LIMIT, 200, "Error writing file"},
                    FaultCase{"WritePastSizeLimit", SIZE_LIMIT, 1 << 20, "Error writing file"},
                    FaultCase{"FlushOnFullDisk", FULL_DISK, 200, "Error writing file"},
                    FaultCase{"WriteOnFullDisk", FULL_DISK, 64 << 10, "Error writing file"},
                    FaultCase{"FolderRefusesNewFiles", FOLDER_LOCKED, 4, "Error opening file"},
                    FaultCase{"TargetCannotBeReplaced", TARGET_IMMUTABLE, 4, "Error writing file"},
                    FaultCase{"FolderInThePlaceOfTheFile", TARGET_IS_FOLDER, 4, nullptr}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

} // namespace
