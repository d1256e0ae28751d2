// diskette_layouts.cpp - the table of diskette layouts and its look-ups.
#include "diskette/diskette_layouts.h"

static constexpr std::uint64_t kLayoutSectorSize = 512;
static constexpr std::uint8_t kDrive35Any = kDrive35Double | kDrive35High | kDrive35Extra;
static constexpr std::uint8_t kDrive35HighOrExtra = kDrive35High | kDrive35Extra;

// The controller's values are those the kernel's floppy driver holds for
// the same layouts, so that a diskette formatted here reads like one it
// formats itself. 40-track layouts take the 360 KB values: in a 40-track
// drive at 250 kbit/s, in a 1.2 MB drive double-stepped at 300 kbit/s (that
// drive spins at 360 rpm). 720 KB in a 1.2 MB drive is the same 300 kbit/s
// layout on 80 tracks. The 21-sector layouts need narrower gaps than 1.44
// MB to fit a track; 2.88 MB needs the 1 Mbit/s rate and perpendicular
// recording of a 2.88 MB drive.
static constexpr DisketteLayout kLayouts[] = {
    {40, 1, 8, 0, 0x2A, 0x02, 0xDF, 0x50, kDrive525Double},   // 160 KB
    {40, 1, 8, 1, 0x23, 0x01, 0xDF, 0x50, kDrive525High},
    {40, 1, 9, 0, 0x2A, 0x02, 0xDF, 0x50, kDrive525Double},   // 180 KB
    {40, 1, 9, 1, 0x23, 0x01, 0xDF, 0x50, kDrive525High},
    {40, 2, 8, 0, 0x2A, 0x02, 0xDF, 0x50, kDrive525Double},   // 320 KB
    {40, 2, 8, 1, 0x23, 0x01, 0xDF, 0x50, kDrive525High},
    {40, 2, 9, 0, 0x2A, 0x02, 0xDF, 0x50, kDrive525Double},   // 360 KB
    {40, 2, 9, 1, 0x23, 0x01, 0xDF, 0x50, kDrive525High},
    {80, 2, 9, 0, 0x2A, 0x02, 0xDF, 0x50, kDrive35Any},       // 720 KB
    {80, 2, 9, 0, 0x23, 0x01, 0xDF, 0x50, kDrive525High},
    {80, 2, 15, 0, 0x1B, 0x00, 0xDF, 0x54, kDrive525High},    // 1.2 MB
    {80, 2, 18, 0, 0x1B, 0x00, 0xCF, 0x6C, kDrive35HighOrExtra},   // 1.44 MB
    {80, 2, 21, 0, 0x1C, 0x00, 0xCF, 0x0C, kDrive35HighOrExtra},   // 1.68 MB (DMF)
    {82, 2, 21, 0, 0x25, 0x00, 0xDF, 0x0C, kDrive35HighOrExtra},   // 1.72 MB
    {80, 2, 36, 0, 0x1B, 0x43, 0xAF, 0x54, kDrive35Extra},    // 2.88 MB
};

std::uint64_t LayoutCapacity(const DisketteLayout* layout) {
    return static_cast<std::uint64_t>(layout->cylinders) * layout->heads *
           layout->sectorsPerTrack * kLayoutSectorSize;
}

const DisketteLayout* FindLayout(std::uint32_t cylinders, std::uint32_t heads,
                                 std::uint32_t sectorsPerTrack, std::uint8_t driveKind,
                                 std::uint32_t driveTracks) {
    for (const DisketteLayout& layout : kLayouts) {
        if (layout.cylinders != cylinders || layout.heads != heads ||
            layout.sectorsPerTrack != sectorsPerTrack || (layout.drives & driveKind) == 0) {
            continue;
        }
        const std::uint32_t steppedTracks = layout.cylinders << layout.stretch;
        if (driveTracks != 0 && steppedTracks > driveTracks) return nullptr;
        return &layout;
    }
    return nullptr;
}

const DisketteLayout* FindLayoutOfCapacity(std::uint64_t byteCount) {
    for (const DisketteLayout& layout : kLayouts) {
        if (LayoutCapacity(&layout) == byteCount) return &layout;
    }
    return nullptr;
}
