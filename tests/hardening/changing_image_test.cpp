// An image file that another process truncates and rewrites while imgextract
// reads and uses it. Whatever the program finds is input like any other: a
// run ends with 0 or 3, never by a signal (a program that kept a mapping of
// the file would meet a bus error where the file was cut).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/extractor/program_helper.h"
#include "tests/support/image_builder.h"
#include "tests/support/process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A 1.44 MB diskette whose files fill most of it, so that a cut at any
// point takes clusters that the listing and the extraction use.
Bytes FullDiskette() {
    FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
    // DIR has one cluster of 16 entries: ".", ".." and ten files.
    const std::uint16_t directory = AddDirectory(&image, kRootDirectory, FileEntry("DIR", ""));
    for (int i = 0; i < 40; ++i) {
        const std::string name = "FILE" + std::to_string(i);
        Bytes data(30000, static_cast<std::uint8_t>(i));
        AddFile(&image, i % 4 != 1 ? kRootDirectory : directory, FileEntry(name, "DAT"), data);
    }
    return image.bytes;
}

// Until stopped, cuts the file to its first sector and writes it back whole,
// or with its FAT and directories overwritten by other bytes, in turn.
void ChangeUntilStopped(const std::string& path, const Bytes& good) {
    Bytes scrambled = good;
    for (std::size_t i = 512; i < 512 * 40; ++i) scrambled[i] = static_cast<std::uint8_t>(i * 7);
    const int handle = open(path.c_str(), O_WRONLY);
    if (handle < 0) _exit(1);
    for (unsigned round = 0;; ++round) {
        if (ftruncate(handle, 512) != 0) _exit(1);
        usleep(500);
        const Bytes& bytes = round % 3 == 2 ? scrambled : good;
        if (pwrite(handle, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
            _exit(1);
        }
        usleep(500);
    }
}

// Stops the changing process on every way out of the test, a failed
// assertion included.
class ChangerGuard {
public:
    explicit ChangerGuard(pid_t changer) : changer_(changer) {}
    ~ChangerGuard() { Stop(); }
    ChangerGuard(const ChangerGuard&) = delete;
    ChangerGuard& operator=(const ChangerGuard&) = delete;
    // True when the changer was still running (it stops only on an error).
    bool Stop() {
        if (changer_ <= 0) return false;
        kill(changer_, SIGKILL);
        int status = 0;
        waitpid(changer_, &status, 0);
        changer_ = 0;
        return WIFSIGNALED(status);
    }

private:
    pid_t changer_;
};

TEST(ChangingImage, ATruncatedOrRewrittenFileNeverEndsARunWithASignal) {
    TempDirectory temp;
    const Bytes good = FullDiskette();
    WriteBytes(temp / "disk.img", good);
    const pid_t changer = fork();
    ASSERT_GE(changer, 0);
    if (changer == 0) ChangeUntilStopped(temp / "disk.img", good);
    ChangerGuard guard(changer);

    int exitCodes[4] = {};
    for (int run = 0; run < 60; ++run) {
        std::vector<std::string> command = {"/usr/bin/timeout", "20", IMGEXTRACT_PATH};
        if (run % 2 == 0) {
            command.insert(command.end(), {"-v", "disk.img"});
        } else {
            command.insert(command.end(), {"-o", "disk.img", "-d", "out"});
            std::filesystem::remove_all(temp / "out");
            std::filesystem::create_directory(temp / "out");
        }
        ChildOptions options;
        options.environment = {"LC_ALL=C"};
        options.workingDirectory = temp.Path();
        const ChildResult result = RunProgram(command, options);
        ASSERT_EQ(result.signal, 0) << "run " << run << ":\n" << result.output;
        ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 3)
            << "run " << run << ": exit code " << result.exitCode << "\n" << result.output;
        ++exitCodes[result.exitCode];
    }
    EXPECT_TRUE(guard.Stop()) << "the changer stopped on its own";
    RecordProperty("successes", exitCodes[0]);
    RecordProperty("errors", exitCodes[3]);
}

}  // namespace
