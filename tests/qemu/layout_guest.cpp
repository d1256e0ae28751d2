// layout_guest.cpp - layouts beyond 1.44 MB on the kernel's floppy driver in
// the qemu guest: a 1.68 MB DMF diskette in the 1.44 MB drive A: and a 2.88
// MB one in the 2.88 MB drive B:. For each, the layout the driver holds after
// PrepareFormat, then dskwrite /F /V as a user runs it (the host then checks
// the drive's image file); for DMF also the geometry query once the driver
// has detected the diskette anew, which takes it for a 1.44 MB one.
// qemu formats nothing, but takes a track's sectors from its format.
#include <fcntl.h>
#include <linux/fd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/keys.h"
#include "console/system_error.h"
#include "diskette/device.h"
#include "image/image_format.h"
#include "tests/qemu/guest.h"

namespace {

const char kWriter[] = "/bin/dskwrite";

struct LayoutCase {
    const char* driveName;
    const char* devicePath;
    const char* imagePath;
    const char* step;                  // the host puts a fresh drive image of the size in
    const char* layoutName;            // the checks' names
    const char* writerName;
    floppy_struct expected;            // the kernel floppy driver's own values
};

// The block dskwrite takes from the image: its boot sector's.
bool ReadImageBlock(const char* imagePath, DeviceParameterBlock* block) {
    std::uint8_t sector[kSectorSize] = {};
    std::FILE* file = std::fopen(imagePath, "rb");
    if (file == nullptr) return false;
    const bool read = std::fread(sector, 1, sizeof(sector), file) == sizeof(sector);
    std::fclose(file);
    if (read) ParametersFromBootSector(sector, block);
    return read;
}

// PrepareFormat, then the layout the driver holds (FDGETPRM through a
// second descriptor, which the exclusive open lets ask).
void CheckPreparedLayout(const LayoutCase& layout) {
    DeviceParameterBlock block{};
    DeviceHandle* device = nullptr;
    std::uint32_t code = ReadImageBlock(layout.imagePath, &block) ? 0 : 2;
    if (code == 0) code = OpenDiskette(layout.driveName, &device);
    if (code == 0) code = PrepareFormat(device, block);
    floppy_struct held{};
    const int probe = code == 0 ? open(layout.devicePath, O_RDONLY | O_NONBLOCK) : -1;
    if (code == 0 && (probe < 0 || ioctl(probe, FDGETPRM, &held) != 0)) code = 1;
    if (probe >= 0) close(probe);
    if (device != nullptr) (void)FlushDiskette(device);
    CloseDiskette(device);
    const floppy_struct& want = layout.expected;
    const bool passed = code == 0 && held.size == want.size && held.sect == want.sect &&
                        held.head == want.head && held.track == want.track &&
                        held.stretch == want.stretch && held.gap == want.gap &&
                        held.rate == want.rate && held.spec1 == want.spec1 &&
                        held.fmt_gap == want.fmt_gap;
    Check(layout.layoutName, passed,
          "code=%u size=%u sect=%u head=%u track=%u stretch=%u gap=0x%02X rate=0x%02X "
          "spec1=0x%02X fmt_gap=0x%02X", code, held.size, held.sect, held.head, held.track,
          held.stretch, held.gap, held.rate, held.spec1, held.fmt_gap);
}

void WriteFormatted(const LayoutCase& layout) {
    TerminalRun run;
    run.arguments = {kWriter, layout.imagePath, layout.driveName, "/F", "/V", "/S"};
    run.limitSeconds = 60;
    const TerminalResult result = RunAndLog(layout.writerName, run);
    const bool written =
        result.ended && result.exitCode == 0 && Contains(result.output, "Verify") &&
        Contains(result.output, "Diskette successfully created");
    Check(layout.writerName, written, "exit %d after %.1f s", result.exitCode, result.seconds);
}

}  // namespace

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
        WriteFormatted(layout);
    }
    // The 1.44 MB drive cannot take the 2.88 MB layout: refused before the
    // driver is given any layout (the DMF one stays).
    DeviceParameterBlock extraDensity{};
    DeviceHandle* device = nullptr;
    std::uint32_t code = ReadImageBlock("/images/xd.img", &extraDensity) ? 0 : 2;
    if (code == 0) code = OpenDiskette("A:", &device);
    if (code == 0) code = PrepareFormat(device, extraDensity);
    floppy_struct held{};
    const int probe = open("/dev/fd0", O_RDONLY | O_NONBLOCK);
    const bool kept = probe >= 0 && ioctl(probe, FDGETPRM, &held) == 0 && held.sect == 21;
    if (probe >= 0) close(probe);
    CloseDiskette(device);
    Check("prepare-xd-in-1440-drive", code == kErrorNotSupported && kept,
          "code=%u, the driver's layout %u sectors", code, held.sect);
    // The DMF diskette taken out and put in again: the driver finds 18
    // sectors on it, the geometry query the 21 it has.
    Step("reinsert-a-dmf");
    const int result = WaitForDiskette("A:", false, kKeyEsc);
    device = nullptr;
    DriveGeometry geometry{};
    code = result == 1 ? OpenDiskette("A:", &device) : 1;
    if (code == 0) code = QueryDriveGeometry(device, &geometry);
    CloseDiskette(device);
    Check("geometry-dmf",
          code == 0 && geometry.heads == 2 && geometry.cylinders == 80 &&
              geometry.sectorsPerTrack == 21 && geometry.bytesPerSector == 512,
          "code=%u heads=%u cylinders=%u sectors=%u", code, geometry.heads, geometry.cylinders,
          geometry.sectorsPerTrack);
}
