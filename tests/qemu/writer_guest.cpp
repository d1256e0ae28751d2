// writer_guest.cpp - the diskette writer (the static dskwrite, as a user runs
// it) against the kernel's floppy and USB storage drivers in the qemu guest.
// The host makes the diskette (writer_images), puts fresh drive images that
// hold only a marker byte into the drives when the guest asks, and afterwards
// checks track side by track side what landed in them.
#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "console/keys.h"
#include "console/system_error.h"
#include "console/text.h"
#include "diskette/device.h"
#include "image/image_format.h"
#include "tests/qemu/guest.h"
#include "tests/support/process.h"

namespace {

const char kWriter[] = "/bin/dskwrite";
const char kPlainImage[] = "/images/files.img";    // the diskette, sector by sector
const char kNativeImage[] = "/images/files.vlm";   // the same, native, sparse, with CRC

const std::string kWritten = "Diskette successfully created";

// Runs dskwrite with these arguments on a terminal and logs what it showed.
TerminalResult RunWriter(const char* name, const std::vector<std::string>& arguments,
                         TerminalRun run, bool killAtLimit = true) {
    run.arguments = {kWriter};
    run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
    return RunAndLog(name, run, killAtLimit);
}

// The output's line that begins with start, or "" when there is none.
std::string LineWith(const std::string& output, const std::string& start) {
    std::size_t at = output.find(start);
    if (at == std::string::npos) return "";
    return output.substr(at, output.find('\n', at) - at);
}

// Waits, for at most 30 s, until the drive answers 21: the host took the diskette out.
bool WaitForEmptyDrive(const char* driveName) {
    for (int attempt = 0; attempt < 150; ++attempt) {
        DeviceHandle* device = nullptr;
        std::uint32_t code = OpenDiskette(driveName, &device);
        CloseDiskette(device);
        if (code == kErrorNotReady) return true;
        Sleep(200);
    }
    return false;
}

// dskwrite's result: exit code 0, the last word of a written diskette, and
// before it the text shown (a prompt or notice, which the next output
// overwrites, so the log shows it no more).
void CheckWritten(const char* name, const TerminalResult& result, const std::string& shown) {
    const bool written = result.ended && result.exitCode == 0 && Contains(result.output, kWritten);
    const std::size_t shownAt = result.output.find(shown);
    const bool shownFirst = shownAt != std::string::npos && shownAt < result.output.find(kWritten);
    Check(name, written && shownFirst, "exit %d after %.1f s, '%s' %s, '%.40s' %s",
          result.exitCode, result.seconds, kWritten.c_str(),
          Contains(result.output, kWritten) ? "shown" : "missing", shown.c_str(),
          shownFirst ? "shown before" : "missing");
}

// WaitForDiskette on a write-protected diskette with accept present: one
// pass, not a wait for ever. Run in a child, so a wait that never ends is a
// failure after 10 s and not a hung guest.
void CheckWaitEndsOnProtectedDiskette() {
    const double start = Now();
    pid_t child = fork();
    if (child == 0) _exit(WaitForDiskette("B:", true, kKeyEsc) == 1 ? 0 : 1);
    int status = 0;
    bool ended = false;
    while (!ended && Now() - start < 10) {
        ended = waitpid(child, &status, WNOHANG) == child;
        if (!ended) Sleep(50);
    }
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    const bool present = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    Check("wait-write-protected", present, "%s after %.1f s",
          !ended ? "still waiting" : present ? "present" : "not present", Now() - start);
}

// Opens the drive as root, writes track 0, side 0 back as it was read, then
// drops to uid 65534 (nobody), syncs and dismounts: the sync is allowed,
// dropping the system's cache is not, and that refusal is no failure. A
// second descriptor, opened before the drop, shows that the cache drop is
// refused.
void CheckDismountAsUser(const char* driveName, const char* name) {
    int results[2];
    if (pipe(results) != 0) {
        Check(name, false, "no pipe");
        return;
    }
    pid_t child = fork();
    if (child == 0) {
        std::uint32_t report[3] = {0, 0, 0};   // stage reached, sync or dismount code, errno
        DeviceHandle* device = nullptr;
        static std::uint8_t side[kTrackSideBufferSize];
        char path[kPathSize];
        std::uint32_t code = DevicePathForDrive(driveName, path, sizeof(path));
        if (code == 0) code = OpenDiskette(driveName, &device);
        if (code == 0) code = ReadTrack(device, side, 0, 0, 18, 512);
        if (code == 0) code = WriteTrack(device, side, 0, 0, 18, 512);
        int probe = code == 0 ? open(path, O_RDONLY | O_NONBLOCK) : -1;
        report[0] = code == 0 && probe >= 0 ? 1 : 0;
        if (report[0] == 1 && setresgid(65534, 65534, 65534) == 0 &&
            setresuid(65534, 65534, 65534) == 0) {
            report[0] = 2;
            report[1] = FlushDiskette(device);
            if (report[1] == 0) report[1] = DismountVolume(device, DeviceParameterBlock{});
            report[2] = ioctl(probe, BLKFLSBUF, nullptr) == 0 ? 0 : static_cast<std::uint32_t>(errno);
        } else if (report[0] == 0) {
            report[1] = code;
        }
        CloseDiskette(device);
        ssize_t written = write(results[1], report, sizeof(report));
        _exit(written == static_cast<ssize_t>(sizeof(report)) ? 0 : 1);
    }
    close(results[1]);
    std::uint32_t report[3] = {0, 0, 0};
    ssize_t length = read(results[0], report, sizeof(report));
    close(results[0]);
    int status = 0;
    waitpid(child, &status, 0);
    const bool passed = length == static_cast<ssize_t>(sizeof(report)) && report[0] == 2 &&
                        report[1] == 0 && report[2] == EACCES;
    Check(name, passed, "stage %u (2: dropped to uid 65534), sync/dismount %u, cache drop %s",
          report[0], report[1], report[2] == EACCES ? "refused (EACCES)" : std::strerror(static_cast<int>(report[2])));
}

// A layout beyond 1.44 MB: the drive, the image, the step that puts a fresh
// drive image of its size in, the checks' names, the kernel driver's values.
struct LayoutCase {
    const char* driveName;
    const char* devicePath;
    const char* imagePath;
    const char* step;
    const char* layoutName;
    const char* writerName;
    floppy_struct expected;
};

// PrepareFormat with the image's boot sector's block, as dskwrite /F does,
// then the layout the driver holds (FDGETPRM through a second descriptor,
// which the exclusive open lets ask).
void CheckPreparedLayout(const LayoutCase& layout) {
    std::uint8_t sector[kSectorSize] = {};
    std::FILE* file = std::fopen(layout.imagePath, "rb");
    std::uint32_t code = file != nullptr && std::fread(sector, 1, sizeof(sector), file) ==
                                                sizeof(sector) ? 0 : 2;
    if (file != nullptr) std::fclose(file);
    DeviceParameterBlock block{};
    ParametersFromBootSector(sector, &block);
    DeviceHandle* device = nullptr;
    if (code == 0) code = OpenDiskette(layout.driveName, &device);
    if (code == 0) code = PrepareFormat(device, block);
    floppy_struct held{};
    const int probe = code == 0 ? open(layout.devicePath, O_RDONLY | O_NONBLOCK) : -1;
    if (code == 0 && (probe < 0 || ioctl(probe, FDGETPRM, &held) != 0)) code = 1;
    if (probe >= 0) close(probe);
    if (device != nullptr) (void)FlushDiskette(device);
    CloseDiskette(device);
    const floppy_struct& want = layout.expected;
    Check(layout.layoutName,
          code == 0 && held.size == want.size && held.sect == want.sect && held.head == want.head &&
              held.track == want.track && held.stretch == want.stretch && held.gap == want.gap &&
              held.rate == want.rate && held.spec1 == want.spec1 && held.fmt_gap == want.fmt_gap,
          "code=%u size=%u sect=%u head=%u track=%u stretch=%u gap=0x%02X rate=0x%02X "
          "spec1=0x%02X fmt_gap=0x%02X", code, held.size, held.sect, held.head, held.track,
          held.stretch, held.gap, held.rate, held.spec1, held.fmt_gap);
}

}  // namespace

void RunWriterProtectedChecks() {
    CheckWaitEndsOnProtectedDiskette();
    TerminalResult result = RunWriter("dskwrite files.img B: /S", {kPlainImage, "B:", "/S"}, {});
    // Code 19 is EROFS here: its text is the C library's "Read-only file system".
    const std::string message = "\n'B:' could not be accessed.\n(Read-only file system)\n";
    Check("writer-write-protected",
          result.ended && result.exitCode == 3 && Contains(result.output, message) &&
              !Contains(result.output, kWritten),
          "exit %d, message %s, '%s' %s", result.exitCode,
          Contains(result.output, message) ? "shown" : "missing", kWritten.c_str(),
          Contains(result.output, kWritten) ? "shown" : "not shown");
}

void RunWriterChecks() {
    // The native image with /V, after ENTER at the prompt.
    if (ChangeToFreshDiskette("change-a-used", "A:", "writer-verify")) {
        TerminalRun run;
        run.typed = "\r";
        run.typeAfter = "ESC=Cancel\r";
        TerminalResult result = RunWriter("dskwrite files.vlm A: /V", {kNativeImage, "A:", "/V"}, run);
        CheckWritten("writer-verify", result, "Insert diskette into 'A:' - ENTER=Continue  ESC=Cancel\r");
    }
    // Every track side.
    if (ChangeToFreshDiskette("change-a-all", "A:", "writer-all")) {
        TerminalResult result = RunWriter("dskwrite files.img A: /A /S", {kPlainImage, "A:", "/A", "/S"}, {});
        CheckWritten("writer-all", result, "WAITING for diskette in 'A:'...  ESC=Cancel\r");
        CheckDismountAsUser("A:", "dismount-as-user-floppy");
    }
    // A diskette that takes every write but gives back zeros for every read
    // (qemu's floppy controller does so when the drive's image cannot be
    // read): the verification must read the diskette itself, not what the
    // driver kept of the track it wrote, and so fail on the first track side.
    Step("change-a-unreadable");
    if (!WaitForFreshDiskette("A:", 0)) {
        Check("writer-verify-reads-diskette", false, "the unreadable diskette never showed in A:");
    } else {
        TerminalResult result = RunWriter("dskwrite files.img A: /V /S", {kPlainImage, "A:", "/V", "/S"}, {});
        const std::string failure = LineWith(result.output, "Check error on track no. ");
        Check("writer-verify-reads-diskette",
              result.ended && result.exitCode == 3 && failure == "Check error on track no. 1, side 0." &&
                  !Contains(result.output, kWritten),
              "exit %d, '%s'", result.exitCode, failure.c_str());
    }
    // /S on an empty drive: the writer waits until the host inserts a diskette.
    Step("eject-a");
    if (!WaitForEmptyDrive("A:")) {
        Check("writer-wait-empty", false, "A: never empty");
    } else {
        TerminalRun run;
        run.stepAfter = "WAITING for diskette in 'A:'...  ESC=Cancel\r";
        run.stepName = "insert-a-waited";
        TerminalResult result = RunWriter("dskwrite files.img A: /S", {kPlainImage, "A:", "/S"}, run);
        CheckWritten("writer-wait-empty", result, run.stepAfter);
    }
    // The USB floppy, with the native image and /V, after a format that the
    // emulated disk refuses: it is a SCSI disk, which knows no READ FORMAT
    // CAPACITIES (invalid command operation code, sense 5/20/00), and nothing
    // is written. The format is asked for by a user who may write the drive
    // and no more: the commands reach the drive all the same.
    if (ChangeToFreshDiskette("change-usb-writer", "C:", "writer-usb-verify")) {
        TerminalRun asUser;
        asUser.arguments = {"/bin/diskette_guest", "as-user", kWriter, kPlainImage, "C:", "/F", "/S"};
        const bool writable = chmod(std::getenv("DISKETTE_C"), 0666) == 0;
        TerminalResult refused = RunAndLog("dskwrite files.img C: /F /S as user 65534", asUser);
        const std::string failure = LineWith(refused.output, "Formatting of the disk in ");
        const std::string reason = LineWith(refused.output, "(Illegal request");
        Check("writer-usb-format-refused",
              refused.ended && refused.exitCode == 3 &&
                  failure == "Formatting of the disk in 'C:' could not be initialized." &&
                  reason == "(Illegal request reported by the drive, sense 5/20/00)" &&
                  writable && WaitForFreshDiskette("C:"),
              "exit %d, '%s' '%s'", refused.exitCode, failure.c_str(), reason.c_str());
        TerminalResult result = RunWriter("dskwrite files.vlm C: /V /S", {kNativeImage, "C:", "/V", "/S"}, {});
        CheckWritten("writer-usb-verify", result, "Verify");
        CheckDismountAsUser("C:", "dismount-as-user-usb");
    }
}

void RunEjectDuringWrite() {
    if (!ChangeToFreshDiskette("change-a-eject", "A:", "writer-eject-during-write")) return;
    // The host ejects once track side 40 has reached the drive's image file,
    // a quarter of the way through the write. (Ejected within the first
    // track, the driver hung in 6 runs of 24; a quarter of the way through,
    // in 1 of 40.)
    Step("eject-a-when-written");
    TerminalRun run;
    run.limitSeconds = 20;
    TerminalResult result =
        RunWriter("dskwrite files.img A: /A /S", {kPlainImage, "A:", "/A", "/S"}, run, false);
    if (!result.ended) {
        StopAfterDriverHang("writer-eject-during-write", result, run.limitSeconds);
        return;
    }
    const std::string failure = LineWith(result.output, "Write error on track no. ");
    Check("writer-eject-during-write",
          result.exitCode == 3 && !failure.empty() && !Contains(result.output, kWritten),
          "exit %d after %.1f s, '%s'", result.exitCode, result.seconds, failure.c_str());
}

void RunWriterBench() {
    // A full pass of every track side with read-back, by dskwrite (ENTER
    // through a pipe, no terminal, so no progress is drawn) and by dd with
    // one direct request per track side, alternately, three times each.
    const std::vector<std::string> writer = {kWriter, kPlainImage, "A:", "/A", "/V"};
    const std::vector<std::string> ddWrite = {"/bin/dd", std::string("if=") + kPlainImage,
                                              "of=/dev/fd0", "bs=9216", "oflag=direct"};
    const std::vector<std::string> ddRead = {"/bin/dd", "if=/dev/fd0", "of=/dev/null", "bs=9216",
                                             "iflag=direct"};
    double writerSeconds[3] = {};
    double ddSeconds[3] = {};
    bool allPassed = true;
    double warmUp = 0;
    allPassed = RunQuietly(ddRead, "", &warmUp) == 0;   // the first open detects the format
    for (int round = 0; round < 3; ++round) {
        double write = 0;
        double read = 0;
        const int writerExit = RunQuietly(writer, "\r", &writerSeconds[round]);
        const int writeExit = RunQuietly(ddWrite, "", &write);
        const int readExit = RunQuietly(ddRead, "", &read);
        ddSeconds[round] = write + read;
        allPassed = allPassed && writerExit == 0 && writeExit == 0 && readExit == 0;
        Note("BENCH round %d: dskwrite /A /V %.3f s (exit %d); dd write %.3f s + read %.3f s = %.3f s "
             "(exits %d %d)", round + 1, writerSeconds[round], writerExit, write, read,
             ddSeconds[round], writeExit, readExit);
    }
    const double writerMedian = Median(writerSeconds[0], writerSeconds[1], writerSeconds[2]);
    const double ddMedian = Median(ddSeconds[0], ddSeconds[1], ddSeconds[2]);
    Note("BENCH median: dskwrite /A /V %.3f s, dd %.3f s, ratio %.3f (goal: at most 1.1)",
         writerMedian, ddMedian, writerMedian / ddMedian);
    Check("bench-runs", allPassed, "every run ended with exit code 0");
}

void RunLayoutChecks() {
    // size, sect, head, track, stretch, gap, rate, spec1, fmt_gap.
    const LayoutCase cases[] = {
        {"A:", "/dev/fd0", "/images/dmf.img", "change-a-dmf", "layout-dmf", "writer-format-dmf",
         {3360, 21, 2, 80, 0, 0x1C, 0x00, 0xCF, 0x0C, nullptr}},
        {"B:", "/dev/fd1", "/images/xd.img", "change-b-xd", "layout-xd", "writer-format-xd",
         {5760, 36, 2, 80, 0, 0x1B, 0x43, 0xAF, 0x54, nullptr}},
    };
    for (const LayoutCase& layout : cases) {
        if (!ChangeToFreshDiskette(layout.step, layout.driveName, layout.layoutName)) continue;
        CheckPreparedLayout(layout);
        TerminalResult result = RunWriter(layout.writerName, {layout.imagePath, layout.driveName,
                                                              "/F", "/V", "/S"}, {});
        CheckWritten(layout.writerName, result, "Verify");
    }
    // The DMF diskette out and in again: the driver detects 18 sectors on
    // it, the geometry query the 21 it has.
    Step("reinsert-a-dmf");
    DeviceHandle* device = nullptr;
    DriveGeometry geometry{};
    std::uint32_t code = WaitForDiskette("A:", false, kKeyEsc) == 1 ? OpenDiskette("A:", &device) : 1;
    if (code == 0) code = QueryDriveGeometry(device, &geometry);
    CloseDiskette(device);
    Check("geometry-dmf",
          code == 0 && geometry.heads == 2 && geometry.cylinders == 80 &&
              geometry.sectorsPerTrack == 21 && geometry.bytesPerSector == 512,
          "code=%u heads=%u cylinders=%u sectors=%u", code, geometry.heads, geometry.cylinders,
          geometry.sectorsPerTrack);
}
