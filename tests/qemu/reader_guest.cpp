// reader_guest.cpp - the diskette reader (the static dskread, as a user runs
// it) against the kernel's floppy and USB storage drivers in the qemu guest:
// the diskette the host put into the floppy drive A:, read whole; the same
// drive emptied by the host in the middle of a read; and a USB disk (E:) on
// which qemu fails every read of a few chosen sectors, as a diskette with
// bad sectors.
//
// What the guest sees of E:'s bad sectors (Debian's 6.1 kernel, qemu 7.2,
// usb-storage over qemu's SCSI disk, blkdebug under it):
// - A request that covers a bad sector fails whole: a 9216-byte track side
//   pread with O_DIRECT returns -1 (never a short count) and hands over none
//   of the good sectors around the bad one; 512-byte preads fail only at the
//   bad sector itself. Every read of a bad sector fails, however often it is
//   repeated, and the disk reads on normally right after a failure.
// - The errno depends on the SCSI answer. A medium error ("Unrecovered read
//   error", as a USB floppy drive reports a sector it cannot read; blkdebug
//   errno 61) gives ENODATA at once, in 1 to 4 ms, without a retry; the kernel
//   logs "critical medium error, dev sdX, sector N". Any other failure
//   (blkdebug errno 5, which qemu answers with "Aborted command: I/O process
//   terminated") gives EIO after the kernel has sent the command six times
//   (five retries, each after a REQUEST SENSE), about 80 ms in all; it logs
//   "I/O error, dev sdX, sector N". N is the request's first sector, not the
//   bad one.
// qemu's floppy controller, by contrast, hands out zeros for a sector it
// cannot read and reports no error, so bad sectors are tested on E: only.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/qemu/guest.h"

namespace {

const char kReader[] = "/bin/dskread";
const char kBadSectorImage[] = "/images/files.img";   // the diskette on E:, as the host made it
const char kReadDirectory[] = "/read";                // the images dskread makes

constexpr std::size_t kDisketteSize = 1474560;       // 1.44 MB: 2880 sectors of 512 bytes
constexpr std::uint32_t kBytesPerSector = 512;

const std::string kMade = "Image successfully created";

// Runs dskread with these arguments on a terminal and logs what it showed.
TerminalResult RunReader(const char* name, const std::vector<std::string>& arguments,
                         TerminalRun run = {}, bool killAtLimit = true) {
    run.arguments = {kReader};
    run.arguments.insert(run.arguments.end(), arguments.begin(), arguments.end());
    return RunAndLog(name, run, killAtLimit);
}

// A directory of its own under kReadDirectory for one check's files.
std::string FreshDirectory(const char* name) {
    mkdir(kReadDirectory, 0755);
    const std::string path = std::string(kReadDirectory) + "/" + name;
    mkdir(path.c_str(), 0755);
    return path;
}

// The names in a directory, "." and ".." aside, each after a blank.
std::string DirectoryNames(const std::string& path) {
    std::string names;
    DIR* directory = opendir(path.c_str());
    if (directory == nullptr) return " (none: no directory)";
    while (const dirent* entry = readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names += std::string(" ") + entry->d_name;
        }
    }
    closedir(directory);
    return names;
}

// A file's bytes, or "" when it cannot be read.
std::string FileBytes(const std::string& path) {
    std::string bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) bytes.append(buffer, count);
    std::fclose(file);
    return bytes;
}

// The sectors (of 512 bytes) in which two diskettes of the same size differ,
// each after a blank, the first ten; "" when they are alike.
std::string DifferingSectors(const std::string& read, const std::string& expected) {
    if (read.size() != expected.size()) {
        return " sizes " + std::to_string(read.size()) + " and " + std::to_string(expected.size());
    }
    std::string sectors;
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < read.size(); offset += kBytesPerSector) {
        if (read.compare(offset, kBytesPerSector, expected, offset, kBytesPerSector) == 0) continue;
        if (++count <= 10) sectors += " " + std::to_string(offset / kBytesPerSector);
    }
    return count > 10 ? sectors + " and " + std::to_string(count - 10) + " more" : sectors;
}

// The read requests the block device name has completed (the first number
// in its /sys/block stat file), or 0.
std::uint64_t CompletedReads(const char* name) {
    char fileName[64];
    std::snprintf(fileName, sizeof(fileName), "/sys/block/%s/stat", name);
    std::FILE* file = std::fopen(fileName, "r");
    unsigned long long count = 0;
    if (file != nullptr && std::fscanf(file, "%llu", &count) != 1) count = 0;
    if (file != nullptr) std::fclose(file);
    return count;
}

// From a child process of its own: "STEP step" once the block device name
// has completed count more read requests (for at most 30 s), so that the
// host acts in the middle of a read whatever the reader shows meanwhile.
pid_t StepAfterReads(const char* name, std::uint64_t count, const char* step) {
    const std::uint64_t before = CompletedReads(name);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child != 0) return child;
    const double start = Now();
    while (CompletedReads(name) - before < count && Now() - start < 30) Sleep(5);
    Step(step);
    _exit(0);
}

}  // namespace

void RunFloppyReadCheck(const std::uint8_t* image) {
    const std::string directory = FreshDirectory("floppy");
    const std::string path = directory + "/a.img";
    const TerminalResult result = RunReader("dskread a.img A: /S", {path, "A:", "/S"});
    const std::string differing =
        DifferingSectors(FileBytes(path), std::string(reinterpret_cast<const char*>(image),
                                                      kDisketteSize));
    const std::string names = DirectoryNames(directory);
    Check("reader-floppy",
          result.ended && result.exitCode == 0 && Contains(result.output, kMade) &&
              differing.empty() && names == " a.img",
          "exit %d after %.1f s, sectors differing:%s; files:%s", result.exitCode, result.seconds,
          differing.c_str(), names.c_str());
}

void RunBadSectorChecks() {
    const std::string directory = FreshDirectory("bad");
    const std::string path = directory + "/e.img";
    const TerminalResult result = RunReader("dskread e.img E: /S", {path, "E:", "/S"});
    // Each bad sector by hand: sector 721 = track side 40 (sectors 720-737,
    // track 20, side 0), its sector 2, offset 721 x 512; sector 737 the same
    // track side's sector 18; sector 1465 = track side 81 (1458-1475, track
    // 40, side 1), its sector 8. ENODATA (code 23) has EIO's text, as EIO has.
    const std::string expectedMap =
        "track 20, side 0, sector 2, offset 369152: Input/output error\n"
        "track 20, side 0, sector 18, offset 377344: Input/output error\n"
        "track 40, side 1, sector 8, offset 750080: Input/output error\n";
    const std::string map = FileBytes(path + ".bad");
    std::string expected = FileBytes(kBadSectorImage);
    for (const BadSector& bad : kBadSectors) {
        if (expected.size() == kDisketteSize) {
            expected.replace(std::size_t{bad.lba} * kBytesPerSector, kBytesPerSector,
                             kBytesPerSector, '\0');
        }
    }
    const std::string differing = DifferingSectors(FileBytes(path), expected);
    const std::string summary =
        "3 sector(s) could not be read; they are listed in '" + path + ".bad'.";
    Check("reader-bad-sectors",
          result.ended && result.exitCode == 2 && map == expectedMap && differing.empty() &&
              Contains(result.output, summary) && expected.size() == kDisketteSize,
          "exit %d after %.1f s, map %s, sectors differing:%s", result.exitCode, result.seconds,
          map == expectedMap ? "as injected" : ("'" + map + "'").c_str(), differing.c_str());
}

void RunEjectDuringRead() {
    const char name[] = "reader-eject-during-read";
    if (!ChangeToFreshDiskette("change-a-read-eject", "A:", name)) return;
    const std::string directory = FreshDirectory("eject");
    // The host takes the diskette out once 30 track sides have been read
    // (the drive's reads of its first sector before them are few); with the
    // host's delay, about a quarter of the way through the read.
    const std::uint64_t before = CompletedReads("fd0");
    const pid_t watcher = StepAfterReads("fd0", 30, "eject-a");
    TerminalRun run;
    run.limitSeconds = 20;
    const TerminalResult result =
        RunReader("dskread a.img A: /S (eject)", {directory + "/a.img", "A:", "/S"}, run, false);
    kill(watcher, SIGKILL);
    waitpid(watcher, nullptr, 0);
    if (!result.ended) {
        StopAfterDriverHang(name, result, run.limitSeconds);
        return;
    }
    const std::string message = "The diskette in 'A:' was taken out or changed while it was read.";
    const std::string names = DirectoryNames(directory);
    Check(name, result.exitCode == 3 && Contains(result.output, message) && names.empty(),
          "exit %d after %.1f s and %llu read requests, message %s, files:%s", result.exitCode,
          result.seconds, static_cast<unsigned long long>(CompletedReads("fd0") - before),
          Contains(result.output, message) ? "shown" : "missing", names.c_str());
}

void RunReaderBench() {
    // The diskette in A: read whole, one direct request of 9216 bytes per
    // track side, by dd and by dskread (ENTER through a pipe, no terminal,
    // so no progress is drawn; the image into the guest's memory),
    // alternately, three times each, after a first read by dd that lets the
    // floppy driver find the diskette's format.
    const std::string image = FreshDirectory("bench") + "/a.img";
    const std::vector<std::string> reader = {kReader, image, "A:"};
    const std::vector<std::string> ddRead = {"/bin/dd", "if=/dev/fd0", "of=/dev/null", "bs=9216",
                                             "iflag=direct"};
    double readerSeconds[3] = {};
    double ddSeconds[3] = {};
    double warmUp = 0;
    bool allPassed = RunQuietly(ddRead, "", &warmUp) == 0;
    for (int round = 0; round < 3; ++round) {
        std::uint64_t before = CompletedReads("fd0");
        const int ddExit = RunQuietly(ddRead, "", &ddSeconds[round]);
        const std::uint64_t ddRequests = CompletedReads("fd0") - before;
        unlink(image.c_str());
        before = CompletedReads("fd0");
        const int readerExit = RunQuietly(reader, "\r", &readerSeconds[round]);
        const std::uint64_t readerRequests = CompletedReads("fd0") - before;
        allPassed = allPassed && ddExit == 0 && readerExit == 0;
        Note("BENCH round %d: dd %.3f s (exit %d, %llu read requests); dskread %.3f s (exit %d, "
             "%llu read requests)", round + 1, ddSeconds[round], ddExit,
             static_cast<unsigned long long>(ddRequests), readerSeconds[round], readerExit,
             static_cast<unsigned long long>(readerRequests));
    }
    const double readerMedian = Median(readerSeconds[0], readerSeconds[1], readerSeconds[2]);
    const double ddMedian = Median(ddSeconds[0], ddSeconds[1], ddSeconds[2]);
    Note("BENCH median: dskread %.3f s, dd %.3f s, ratio %.3f (goal: at most 1.05)", readerMedian,
         ddMedian, readerMedian / ddMedian);
    Check("bench-read-runs", allPassed, "every run ended with exit code 0");
}
