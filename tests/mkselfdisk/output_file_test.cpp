// Tests of the file mkselfdisk makes as a file: its mode under the umask,
// what a failure to make it reach the disk leaves, and that a signal that
// ends mkselfdisk takes the new file with it.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/selfdisk/payload_helper.h"
#include "tests/support/process.h"

namespace {

// The program made has the mode the umask lets (0777 & ~umask); with its
// directory's fsync failing (strace makes the second fsync, after the
// rename, fail with EIO) it is there, but not reported made.
TEST(SelfDiskOutputFile, HasTheUmasksModeAndReachesTheDiskBeforeItIsMade) {
    struct Row {
        mode_t umask;
        bool failDirectorySync;
        mode_t mode;
    };
    const Row rows[] = {{022, false, 0755}, {077, false, 0700}, {077, true, 0700}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.umask + row.failDirectorySync);
        TempDirectory directory;
        WriteBytes(directory / "one.img", WrapNative(LabelledDiskette("ONE"), NativeWith(true, true)));
        std::vector<std::string> command = {MKSELFDISK_PATH, "-o", directory / "made",
                                            directory / "one.img"};
        ChildOptions options;
        if (row.failDirectorySync) {
            command.insert(command.begin(), {"/usr/bin/strace", "-qq", "-o", "/dev/null", "-e",
                                             "trace=fsync", "-e", "inject=fsync:error=EIO:when=2"});
            // A sanitizer build's leak check cannot work under a tracer.
            options.environment = {"ASAN_OPTIONS=detect_leaks=0:halt_on_error=1"};
        }
        const ChildResult result = RunFunction(
            [&] {
                umask(row.umask);
                ExecProgram(command);
            },
            options);
        EXPECT_EQ(result.exitCode, row.failDirectorySync ? 3 : 0) << result.output;
        if (row.failDirectorySync) {
            EXPECT_EQ(result.output, "\n'" + directory / "made" + "' has its name, but its directory "
                                     "could not be written to the disk.\n(Input/output error)\n");
        }
        struct stat status {};
        ASSERT_EQ(stat((directory / "made").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, row.mode);
    }
}

// True when the process is in a write(2) that waits: the first field of
// /proc/<pid>/syscall is the number of the system call it is blocked in.
bool IsWaitingInWrite(pid_t process) {
    std::ifstream file("/proc/" + std::to_string(process) + "/syscall");
    long number = -1;
    return static_cast<bool>(file >> number) && number == SYS_write;
}

// mkselfdisk is kept busy by its first message, the warning of a damaged
// image's CRC: its output goes to a terminal whose output is stopped (as by
// Ctrl+S), or into a pipe of one page (4096 bytes, about 30 warnings of 100
// images) that is not read. Once the new file "made.XXXXXX" is there, the
// signal comes; the new file goes, and mkselfdisk ends by the signal. On a
// terminal the guard's handler runs after the removal: it gives the terminal
// its colours back ("\x1b[0m") once output goes on.
TEST(SelfDiskOutputFile, IsRemovedWhenASignalEndsTheBuilder) {
    struct Row {
        int signal;
        bool terminal;
    };
    const Row rows[] = {{SIGINT, true}, {SIGTERM, false}, {SIGHUP, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.signal);
        TempDirectory directory;
        NativeOptions damaged = NativeWith(true, true);
        damaged.storedCrc = 0x12345678;
        WriteBytes(directory / "damaged.img", WrapNative(LabelledDiskette("BUSY"), damaged));
        std::vector<std::string> command = {MKSELFDISK_PATH, "-o", directory / "made"};
        command.insert(command.end(), 100, directory / "damaged.img");
        int reader = -1;
        int writer = -1;
        if (row.terminal) {
            ASSERT_EQ(openpty(&reader, &writer, nullptr, nullptr, nullptr), 0);
            ASSERT_EQ(tcflow(writer, TCOOFF), 0);
        } else {
            int ends[2];
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
            reader = ends[0];
            writer = ends[1];
            ASSERT_EQ(fcntl(writer, F_SETPIPE_SZ, 4096), 4096);
        }
        const pid_t child = fork();
        if (child == 0) {
            if (row.terminal) {
                close(reader);
                login_tty(writer);
            } else {
                dup2(open("/dev/null", O_RDONLY), 0);
                dup2(writer, 1);
            }
            ExecProgram(command);
        }
        // The signal comes once "made.XXXXXX" is there and mkselfdisk waits in
        // a write to its output, after the colour of its first message.
        for (int wait = 0; wait < 1000 && !(TreeBelow(directory.Path()).size() == 2 &&
                                            IsWaitingInWrite(child));
             ++wait) {
            usleep(10000);
        }
        EXPECT_EQ(TreeBelow(directory.Path()).size(), 2u);   // the image and "made.XXXXXX"
        kill(child, row.signal);
        if (row.terminal) tcflow(writer, TCOON);
        close(writer);
        char buffer[65536];
        std::string output;
        for (ssize_t count; (count = read(reader, buffer, sizeof(buffer))) > 0;) {
            output.append(buffer, static_cast<std::size_t>(count));
        }
        close(reader);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
        EXPECT_EQ(TreeBelow(directory.Path()), std::set<std::string>({"damaged.img"}));
        if (row.terminal) {
            EXPECT_EQ(output.substr(output.size() < 4 ? 0 : output.size() - 4), "\x1b[0m");
        }
    }
}

}  // namespace
