// Tests of the file mkselfdisk makes as a file: its mode under the umask,
// and what a failure to make it reach the disk leaves.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/process.h"

namespace {

TEST(SelfDiskOutputFile, IsExecutableForWhomTheUmaskLets) {
    struct Row {
        mode_t umask;
        mode_t mode;
    };
    const Row rows[] = {{022, 0755}, {077, 0700}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.umask);
        TempDirectory directory;
        WriteBytes(directory / "one.img", WrapNative(LabelledDiskette("ONE"), NativeWith(true, true)));
        const std::vector<std::string> command = {MKSELFDISK_PATH, "-o", directory / "made",
                                                  directory / "one.img"};
        const ChildResult result = RunFunction(
            [&] {
                umask(row.umask);
                ExecProgram(command);
            },
            {});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        struct stat status {};
        ASSERT_EQ(stat((directory / "made").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, row.mode);
    }
}

// strace makes the first fsync (the file's) or the second (its directory's,
// after the rename) fail with EIO: an error with the system's text, and no
// line that says the output was made.
TEST(SelfDiskOutputFile, ReportsAFileOrDirectoryThatDoesNotReachTheDisk) {
    struct Row {
        const char* when;
        const char* message;      // "%T" stands for the directory
        std::set<std::string> left;
    };
    const Row rows[] = {
        {"1", "'%T/made' could not be created.\n(Input/output error)", {"one.img"}},
        {"2", "'%T/made' has its name, but its directory could not be written to the disk.\n"
              "(Input/output error)", {"one.img", "made"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.when);
        TempDirectory directory;
        WriteBytes(directory / "one.img", WrapNative(LabelledDiskette("ONE"), NativeWith(true, true)));
        const ChildResult result = RunProgram(
            {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e",
             std::string("inject=fsync:error=EIO:when=") + row.when, MKSELFDISK_PATH, "-o",
             directory / "made", directory / "one.img"},
            {});
        std::string message = row.message;
        message.replace(message.find("%T"), 2, directory.Path());
        EXPECT_EQ(result.exitCode, 3);
        EXPECT_EQ(result.output, "\n" + message + "\n");
        EXPECT_EQ(TreeBelow(directory.Path()), row.left);
    }
}

}  // namespace
