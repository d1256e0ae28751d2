// diskette_guest_main.cpp - the device layer against the real Linux floppy
// and USB storage drivers, run inside a qemu guest by tests/qemu/run.sh.
//   diskette_guest run                        the guest's checks (A: B: floppy, C: USB,
//                                             E: USB with bad sectors), the device
//                                             layer's, the diskette reader's and writer's,
//                                             the self-creating diskette's, then the
//                                             layouts beyond 1.44 MB
//   diskette_guest eject                      only the ejects during a read and a write
//                                             (a second try)
//   diskette_guest bench                      the writer against dd on A: (figures only)
//   diskette_guest bench-read                 the reader against dd on A: (figures only)
//   diskette_guest make-image FILE KB TAG     a tagged image for the host to attach
//   diskette_guest check-image FILE KB TAG    on the host: every sector holds TAG's data
//   diskette_guest bad-sectors                for the host: the sectors qemu is to fail on
//                                             E:, "sector errno" a line
//   diskette_guest as-user PROGRAM ARGS...    runs PROGRAM as user and group 65534
// The guest prints "CHECK name ok|FAIL detail" lines, "STEP name" where the
// host has to change a diskette, and "GUEST DONE failures=N" at the end.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/keys.h"
#include "console/system_error.h"
#include "diskette/device.h"
#include "image/byte_order.h"
#include "tests/qemu/guest.h"

namespace {

constexpr std::uint32_t kBytesPerSector = 512;

// Sector lba of a diskette tagged tag: its text, then bytes that depend on
// the tag and the sector number, so data in the wrong place shows.
void FillSector(std::uint8_t* sector, const char* tag, std::uint32_t lba) {
    for (std::uint32_t i = 0; i < kBytesPerSector; ++i) {
        sector[i] = static_cast<std::uint8_t>(lba * 7 + i + static_cast<std::uint8_t>(tag[0]));
    }
    char text[40];
    int length = std::snprintf(text, sizeof(text), "TAG:%s LBA:%u.", tag, lba);
    std::memcpy(sector, text, static_cast<std::size_t>(length));
}

DeviceParameterBlock MakeBlock(std::uint16_t sectorsPerTrack, std::uint16_t tracks,
                               std::uint8_t mediaDescriptor) {
    DeviceParameterBlock block{};
    WriteLe16(block.bytesPerSector, kBytesPerSector);
    block.sectorsPerCluster = 1;          // a block without it describes no usable layout
    WriteLe16(block.reservedSectors, 1);
    block.fatCount = 2;
    WriteLe16(block.sectorsPerTrack, sectorsPerTrack);
    WriteLe16(block.sides, 2);
    WriteLe16(block.tracks, tracks);
    WriteLe16(block.totalSectors, static_cast<std::uint16_t>(sectorsPerTrack * 2 * tracks));
    block.mediaDescriptor = mediaDescriptor;
    return block;
}

bool HasGeometry(DeviceHandle* device, const DriveGeometry& expected, const char* name) {
    DriveGeometry geometry{};
    std::uint32_t code = QueryDriveGeometry(device, &geometry);
    bool passed = code == 0 && geometry.heads == expected.heads &&
                  geometry.cylinders == expected.cylinders &&
                  geometry.sectorsPerTrack == expected.sectorsPerTrack &&
                  geometry.bytesPerSector == expected.bytesPerSector;
    Check(name, passed, "code=%u heads=%u cylinders=%u sectors=%u bytes=%u", code, geometry.heads,
          geometry.cylinders, geometry.sectorsPerTrack, geometry.bytesPerSector);
    return passed;
}

// Writes every track side with tag's data, then reads each back and compares.
void WriteAndReadEverySide(DeviceHandle* device, const char* tag, std::uint32_t cylinders,
                           std::uint32_t sectorsPerTrack, const char* writeName,
                           const char* readName) {
    static std::uint8_t side[kTrackSideBufferSize];
    static std::uint8_t readBack[kTrackSideBufferSize];
    const std::uint32_t sideBytes = sectorsPerTrack * kBytesPerSector;
    std::uint32_t code = 0;
    std::uint32_t failedAt = 0;
    for (std::uint32_t index = 0; index < cylinders * 2 && code == 0; ++index) {
        for (std::uint32_t sector = 0; sector < sectorsPerTrack; ++sector) {
            FillSector(side + sector * kBytesPerSector, tag, index * sectorsPerTrack + sector);
        }
        code = WriteTrack(device, side, index % 2, index / 2, sectorsPerTrack, kBytesPerSector);
        failedAt = index;
    }
    Check(writeName, code == 0, "code=%u at track side %u", code, failedAt);
    std::uint32_t mismatches = 0;
    code = 0;
    for (std::uint32_t index = 0; index < cylinders * 2 && code == 0; ++index) {
        code = ReadTrack(device, readBack, index % 2, index / 2, sectorsPerTrack, kBytesPerSector);
        failedAt = index;
        for (std::uint32_t sector = 0; sector < sectorsPerTrack && code == 0; ++sector) {
            FillSector(side + sector * kBytesPerSector, tag, index * sectorsPerTrack + sector);
        }
        if (code == 0 && std::memcmp(side, readBack, sideBytes) != 0) ++mismatches;
    }
    Check(readName, code == 0 && mismatches == 0, "code=%u at track side %u, %u sides differ",
          code, failedAt, mismatches);
}

bool FirstSectorHasTag(const char* driveName, const char* tag, const char* name) {
    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette(driveName, &device);
    std::uint8_t sector[kSectorSize] = {};
    if (code == 0) code = ReadFirstSector(device, sector);
    CloseDiskette(device);
    std::uint8_t expected[kSectorSize];
    FillSector(expected, tag, 0);
    bool passed = code == 0 && std::memcmp(sector, expected, kSectorSize) == 0;
    Check(name, passed, "code=%u first bytes '%.12s'", code, reinterpret_cast<char*>(sector));
    return passed;
}

// Opens the drive until it answers code 21 (the host has taken the diskette
// out), for at most 30 s.
void ExpectEmptyDrive(const char* driveName, const char* name) {
    std::uint32_t code = 0;
    for (int attempt = 0; attempt < 150; ++attempt) {
        DeviceHandle* device = nullptr;
        code = OpenDiskette(driveName, &device);
        CloseDiskette(device);
        if (code == kErrorNotReady) break;
        Sleep(200);
    }
    Check(name, code == kErrorNotReady, "code=%u", code);
}

// A: holds the host's 1.44 MB diskette tagged A0 (make-image) until the
// checks below write it.
void RunFloppyReadChecks() {
    constexpr std::uint32_t kSectorCount = 2880;
    static std::uint8_t image[kSectorCount * kBytesPerSector];
    for (std::uint32_t lba = 0; lba < kSectorCount; ++lba) {
        FillSector(image + lba * kBytesPerSector, "A0", lba);
    }
    RunFloppyReadCheck(image);
}

void RunFloppyChecks() {
    Check("is-drive-floppy", IsDisketteDrive("A:"), "A: = /dev/fd0");
    Check("is-drive-usb", IsDisketteDrive("C:"), "C: = %s", std::getenv("DISKETTE_C"));
    Check("is-drive-hard-disk", !IsDisketteDrive("D:"), "D: = %s", std::getenv("DISKETTE_D"));

    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette("B:", &device);
    Check("open-write-protected", code == kErrorWriteProtect && device == nullptr, "code=%u",
          code);
    CloseDiskette(device);

    code = OpenDiskette("A:", &device);
    Check("open-1440", code == 0, "code=%u", code);
    if (code != 0) return;
    DeviceHandle* second = nullptr;
    code = OpenDiskette("A:", &second);
    Check("open-second-holder", code == kErrorSharingViolation, "code=%u", code);
    CloseDiskette(second);
    HasGeometry(device, DriveGeometry{2, 80, 18, 512}, "geometry-1440");
    DeviceParameterBlock largeSectors = MakeBlock(9, 80, 0xF0);
    WriteLe16(largeSectors.bytesPerSector, 1024);
    code = PrepareFormat(device, largeSectors);
    Check("prepare-1024-byte-sectors", code == kErrorInvalidParameter, "code=%u", code);
    code = SetVolumeLock(device, true);
    const DeviceParameterBlock block = MakeBlock(18, 80, 0xF0);
    if (code == 0) code = PrepareFormat(device, block);
    std::uint32_t formatted = 0;
    for (std::uint32_t index = 0; index < 160 && code == 0; ++index) {
        code = FormatTrack(device, index % 2, index / 2, 18, kBytesPerSector, 0, 0xF0);
        if (code == 0) ++formatted;
    }
    Check("format-sequence", code == 0 && formatted == 160, "code=%u after %u track sides", code,
          formatted);
    WriteAndReadEverySide(device, "WA", 80, 18, "write-every-side", "read-every-side");
    code = FlushDiskette(device);
    Check("flush", code == 0, "code=%u", code);
    code = DismountVolume(device, block);
    Check("dismount", code == 0, "code=%u", code);
    code = SetVolumeLock(device, false);
    CloseDiskette(device);
    FirstSectorHasTag("A:", "WA", "first-sector-1440");
}

void RunUsbChecks() {
    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette("C:", &device);
    Check("usb-open", code == 0, "code=%u", code);
    if (code != 0) return;
    HasGeometry(device, DriveGeometry{2, 80, 18, 512}, "usb-geometry");
    WriteAndReadEverySide(device, "WC", 80, 18, "usb-write-every-side", "usb-read-every-side");
    code = FlushDiskette(device);
    Check("usb-flush", code == 0, "code=%u", code);
    code = DismountVolume(device, DeviceParameterBlock{});
    Check("usb-dismount", code == 0, "code=%u", code);
    CloseDiskette(device);
}

void RunMediaChangeChecks() {
    Step("eject-b");
    ExpectEmptyDrive("B:", "open-empty");
    Check("is-drive-empty-floppy", IsDisketteDrive("B:"), "B: empty");

    Step("insert-b-later");
    int result = WaitForDiskette("B:", false, kKeyEsc);
    Check("wait-after-empty", result == 1, "result=%d", result);
    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette("B:", &device);
    Check("open-720", code == 0, "code=%u", code);
    if (code == 0) HasGeometry(device, DriveGeometry{2, 80, 9, 512}, "geometry-720");
    CloseDiskette(device);
    FirstSectorHasTag("B:", "DA", "first-sector-720");

    // The host swaps the diskette at once: the drive never looks empty.
    Step("swap-b");
    result = WaitForDiskette("B:", false, kKeyEsc);
    Check("wait-after-swap", result == 1, "result=%d", result);
    FirstSectorHasTag("B:", "DB", "first-sector-after-swap");

    Step("eject-usb");
    ExpectEmptyDrive("C:", "usb-open-empty");
    Check("usb-is-drive-empty", IsDisketteDrive("C:"), "C: empty");
}

int MakeImage(const char* fileName, std::uint32_t kilobytes, const char* tag) {
    std::FILE* file = std::fopen(fileName, "wb");
    if (file == nullptr) return 2;
    std::uint8_t sector[kBytesPerSector];
    for (std::uint32_t lba = 0; lba < kilobytes * 2; ++lba) {
        FillSector(sector, tag, lba);
        std::fwrite(sector, 1, sizeof(sector), file);
    }
    return std::fclose(file) == 0 ? 0 : 2;
}

int CheckImage(const char* fileName, std::uint32_t kilobytes, const char* tag) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) return 2;
    std::uint8_t sector[kBytesPerSector];
    std::uint8_t expected[kBytesPerSector];
    std::uint32_t wrong = 0;
    std::uint32_t lba = 0;
    for (; lba < kilobytes * 2; ++lba) {
        if (std::fread(sector, 1, sizeof(sector), file) != sizeof(sector)) break;
        FillSector(expected, tag, lba);
        if (std::memcmp(sector, expected, sizeof(sector)) != 0) {
            if (wrong < 5) std::printf("sector %u holds '%.16s'\n", lba, sector);
            ++wrong;
        }
    }
    std::fclose(file);
    bool passed = wrong == 0 && lba == kilobytes * 2;
    std::printf("CHECK host-image-%s %s %u of %u sectors read, %u wrong\n", tag,
                passed ? "ok" : "FAIL", lba, kilobytes * 2, wrong);
    return passed ? 0 : 1;
}

}  // namespace

int main(int argumentCount, char** arguments) {
    if (argumentCount == 5 && std::strcmp(arguments[1], "make-image") == 0) {
        return MakeImage(arguments[2], static_cast<std::uint32_t>(std::atoi(arguments[3])),
                         arguments[4]);
    }
    if (argumentCount == 5 && std::strcmp(arguments[1], "check-image") == 0) {
        return CheckImage(arguments[2], static_cast<std::uint32_t>(std::atoi(arguments[3])),
                          arguments[4]);
    }
    if (argumentCount >= 3 && std::strcmp(arguments[1], "as-user") == 0) {
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) return 126;
        execv(arguments[2], arguments + 2);
        return 127;
    }
    if (argumentCount == 2 && std::strcmp(arguments[1], "bad-sectors") == 0) {
        for (const BadSector& sector : kBadSectors) {
            std::printf("%u %d\n", sector.lba, sector.error);
        }
        return 0;
    }
    const char* mode = argumentCount == 2 ? arguments[1] : "";
    if (std::strcmp(mode, "run") != 0 && std::strcmp(mode, "eject") != 0 &&
        std::strcmp(mode, "bench") != 0 && std::strcmp(mode, "bench-read") != 0) {
        std::fprintf(stderr, "usage: diskette_guest run|eject|bench|bench-read|bad-sectors | "
                             "make-image|check-image FILE KB TAG\n");
        return 2;
    }
    std::printf("\nGUEST START %s\n", mode);
    if (std::strcmp(mode, "run") == 0) {
        RunFloppyReadChecks();
        RunFloppyChecks();
        RunWriterProtectedChecks();
        RunUsbChecks();
        RunBadSectorChecks();
        RunMediaChangeChecks();
        RunWriterChecks();
        RunSelfDiskChecks();
        RunLayoutChecks();
    }
    // The ejects come last: they may leave the floppy driver hung.
    if (std::strcmp(mode, "bench") == 0) {
        RunWriterBench();
    } else if (std::strcmp(mode, "bench-read") == 0) {
        RunReaderBench();
    } else {
        RunEjectDuringRead();
        RunEjectDuringWrite();
    }
    std::printf("GUEST DONE failures=%d\n", FailureCount());
    std::fflush(stdout);
    return FailureCount() == 0 ? 0 : 1;
}
