// reader_guest.cpp - reading diskettes through the device layer in the qemu
// guest: the diskette the host put into the floppy drive A:, read whole, and
// a USB disk (E:) on which qemu fails every read of a few chosen sectors, as
// a diskette with bad sectors.
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
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/system_error.h"
#include "console/text.h"
#include "diskette/device.h"
#include "tests/qemu/guest.h"

namespace {

constexpr std::uint32_t kBytesPerSector = 512;
constexpr std::uint32_t kSectorsPerTrack = 18;
constexpr std::uint32_t kTrackSides = 160;
constexpr std::uint32_t kSideBytes = kSectorsPerTrack * kBytesPerSector;

// The diskette on E:, as the host made it (writer_images make).
const char kBadSectorImage[] = "/images/files.img";

// The errno the kernel reports for a read of sector lba on E:, 0 when it
// reads.
int BadSectorError(std::uint32_t lba) {
    for (const BadSector& bad : kBadSectors) {
        if (bad.lba == lba) return bad.error;
    }
    return 0;
}

// Reads every track side of the 1.44 MB diskette in the drive with ReadTrack
// into codes (a result per track side) and counts in *differing the sides
// read that are not as image (the whole diskette; nullptr: compare nothing)
// holds them. Returns the code of OpenDiskette or QueryDriveGeometry, 1785
// for another geometry.
std::uint32_t ReadEveryTrackSide(const char* driveName, const std::uint8_t* image,
                                 std::uint32_t* codes, std::uint32_t* differing) {
    static std::uint8_t side[kTrackSideBufferSize];
    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette(driveName, &device);
    DriveGeometry geometry{};
    if (code == 0) code = QueryDriveGeometry(device, &geometry);
    if (code == 0 && (geometry.heads != 2 || geometry.cylinders != kTrackSides / 2 ||
                      geometry.sectorsPerTrack != kSectorsPerTrack)) {
        code = kErrorUnrecognizedMedia;
    }
    *differing = 0;
    for (std::uint32_t index = 0; index < kTrackSides && code == 0; ++index) {
        const double start = Now();
        codes[index] =
            ReadTrack(device, side, index % 2, index / 2, kSectorsPerTrack, kBytesPerSector);
        if (codes[index] != 0) {
            Note("track side %u: code %u after %.3f s", index, codes[index], Now() - start);
        } else if (image != nullptr && std::memcmp(side, image + std::size_t{index} * kSideBytes, kSideBytes) != 0) {
            ++*differing;
        }
    }
    CloseDiskette(device);
    return code;
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

}  // namespace

void RunFloppyReadCheck(const std::uint8_t* image) {
    std::uint32_t codes[kTrackSides] = {};
    std::uint32_t differing = 0;
    const std::uint32_t code = ReadEveryTrackSide("A:", image, codes, &differing);
    std::uint32_t failed = 0;
    for (std::uint32_t sideCode : codes) failed += sideCode != 0 ? 1 : 0;
    Check("read-diskette-1440", code == 0 && failed == 0 && differing == 0,
          "code=%u, %u track sides failed, %u differ", code, failed, differing);
}

void RunBadSectorChecks() {
    static std::uint8_t image[std::size_t{kTrackSides} * kSideBytes];
    std::FILE* file = std::fopen(kBadSectorImage, "rb");
    const bool loaded = file != nullptr && std::fread(image, 1, sizeof(image), file) == sizeof(image);
    if (file != nullptr) std::fclose(file);

    // Whole track sides: those with a bad sector fail with the layer's code
    // for the errno of their bad sectors (one errno per track side here).
    std::uint32_t codes[kTrackSides] = {};
    std::uint32_t expectedCodes[kTrackSides] = {};
    std::uint32_t differing = 0;
    const std::uint32_t code = loaded ? ReadEveryTrackSide("E:", image, codes, &differing) : 2;
    std::string failures;
    bool asInjected = code == 0;
    for (std::uint32_t index = 0; index < kTrackSides; ++index) {
        int error = 0;
        for (std::uint32_t sector = 0; sector < kSectorsPerTrack && error == 0; ++sector) {
            error = BadSectorError(index * kSectorsPerTrack + sector);
        }
        expectedCodes[index] = error != 0 ? SystemCodeFromPlatformError(error) : 0;
        asInjected = asInjected && codes[index] == expectedCodes[index];
        if (codes[index] != 0 || expectedCodes[index] != 0) {
            failures += " " + std::to_string(index) + " (code " + std::to_string(codes[index]) +
                        ", expected " + std::to_string(expectedCodes[index]) + ")";
        }
    }
    Check("usb-bad-track-sides", asInjected && differing == 0,
          "code=%u, track sides failed:%s; %u of the others differ", code, failures.c_str(),
          differing);

    // Sector by sector, through direct 512-byte reads of their own, the track
    // sides that hold bad sectors: exactly those fail, with their errno.
    char path[kPathSize];
    int descriptor = -1;
    if (loaded && DevicePathForDrive("E:", path, sizeof(path)) == 0) {
        descriptor = open(path, O_RDONLY | O_DIRECT | O_CLOEXEC);
    }
    alignas(4096) static std::uint8_t sector[kBytesPerSector];
    failures.clear();
    asInjected = descriptor >= 0;
    differing = 0;
    for (std::uint32_t lba = 0; lba < kTrackSides * kSectorsPerTrack && descriptor >= 0; ++lba) {
        if (expectedCodes[lba / kSectorsPerTrack] == 0) continue;
        const double start = Now();
        const ssize_t count = pread(descriptor, sector, kBytesPerSector,
                                    static_cast<off_t>(lba) * kBytesPerSector);
        const int error = count < 0 ? errno : 0;
        if (count >= 0 && count != static_cast<ssize_t>(kBytesPerSector)) {
            asInjected = false;
            failures += " " + std::to_string(lba) + " (short)";
        } else if (error != 0) {
            failures += " " + std::to_string(lba) + " (" + std::strerror(error) + ")";
            Note("sector %u: %s after %.3f s", lba, std::strerror(error), Now() - start);
        } else if (std::memcmp(sector, image + std::size_t{lba} * kBytesPerSector,
                               kBytesPerSector) != 0) {
            ++differing;
        }
        asInjected = asInjected && error == BadSectorError(lba);
    }
    if (descriptor >= 0) close(descriptor);
    Check("usb-bad-sectors", asInjected && differing == 0,
          "sectors failed:%s; %u of the others differ", failures.c_str(), differing);
}

void RunReaderBench() {
    // The diskette in A: read whole, one direct request of 9216 bytes per
    // track side, once by dd and once through the device layer as a reader
    // uses it (open, geometry, 160 ReadTrack calls into one buffer, close),
    // in this process. A reader program would take the second's place, run
    // by RunQuietly as dd is. Both send 160 read requests; ReadTrack takes
    // about 1.6 times dd's time because of the floppy driver's track buffer
    // flush (FDFLUSH) before each read, about 8 ms a track side here: the same
    // loop of direct preads without it takes dd's time.
    const std::vector<std::string> ddRead = {"/bin/dd", "if=/dev/fd0", "of=/dev/null", "bs=9216",
                                             "iflag=direct"};
    std::uint64_t before = CompletedReads("fd0");
    double ddSeconds = 0;
    const int ddExit = RunQuietly(ddRead, "", &ddSeconds);
    const std::uint64_t ddRequests = CompletedReads("fd0") - before;

    before = CompletedReads("fd0");
    std::uint32_t codes[kTrackSides] = {};
    std::uint32_t differing = 0;
    const double start = Now();
    std::uint32_t code = ReadEveryTrackSide("A:", nullptr, codes, &differing);
    const double layerSeconds = Now() - start;
    const std::uint64_t layerRequests = CompletedReads("fd0") - before;
    for (std::uint32_t sideCode : codes) code = code != 0 ? code : sideCode;

    Note("BENCH read of 1.44 MB from A:: dd iflag=direct bs=9216 %.3f s (exit %d, %llu read "
         "requests); ReadTrack %.3f s (code %u, %llu read requests); ratio %.3f (goal: at most "
         "1.05)", ddSeconds, ddExit, static_cast<unsigned long long>(ddRequests), layerSeconds,
         code, static_cast<unsigned long long>(layerRequests), layerSeconds / ddSeconds);
    Check("bench-read-runs", ddExit == 0 && code == 0, "both reads ended without error");
}
