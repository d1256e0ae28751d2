// diskette_layouts.h - the diskette layouts the device layer knows, in one
// table: their geometry, the values a floppy disk controller formats and
// reads each with, and the kinds of drive that can take it. The same table
// gives the capacities a USB drive's medium and a drive file may have.
#pragma once
#include <cstdint>

// Kinds of floppy drive, as bits, so that a layout names every kind that
// takes it.
inline constexpr std::uint8_t kDrive525Double = 0x01;   // 5.25" 360 KB: 40 tracks, 250 kbit/s
inline constexpr std::uint8_t kDrive525High = 0x02;     // 5.25" 1.2 MB: 80 tracks, 360 rpm
inline constexpr std::uint8_t kDrive35Double = 0x04;    // 3.5" 720 KB
inline constexpr std::uint8_t kDrive35High = 0x08;      // 3.5" 1.44 MB
inline constexpr std::uint8_t kDrive35Extra = 0x10;     // 3.5" 2.88 MB
inline constexpr std::uint8_t kDriveUnknown = 0x1F;     // a drive that does not tell its kind

struct DisketteLayout {
    std::uint32_t cylinders;           // tracks per side as the diskette numbers them
    std::uint32_t heads;               // sides, 1 or 2
    std::uint32_t sectorsPerTrack;     // of 512 bytes, the only size a layout here has
    std::uint8_t stretch;              // 1: each track stepped twice (40 tracks, 80-track drive)
    std::uint8_t gap;                  // gap length in reads and writes
    std::uint8_t rate;                 // data rate: 0 500 kbit/s, 1 300, 2 250, 0x43 1 Mbit/s
                                       //   with perpendicular recording
    std::uint8_t spec1;                // step rate and head unload time
    std::uint8_t formatGap;            // gap length written between sectors by a format
    std::uint8_t drives;               // kDrive... bits: the drives that take the layout
};

// Bytes of a diskette of layout.
[[nodiscard]] std::uint64_t LayoutCapacity(const DisketteLayout* layout);

// The layout of cylinders x heads x sectorsPerTrack (sectors of 512 bytes)
// for a drive of kind driveKind (one kDrive... bit, or kDriveUnknown) that
// steps up to driveTracks tracks (0: not known); nullptr when the table has
// no such layout, the drive's kind takes none of them or the layout needs
// more tracks than the drive has. A layout that the 40-track and the 80-
// track 5.25" drives both take has a row for each: the first that fits the
// drive's kind is found.
[[nodiscard]] const DisketteLayout* FindLayout(std::uint32_t cylinders, std::uint32_t heads,
                                               std::uint32_t sectorsPerTrack,
                                               std::uint8_t driveKind,
                                               std::uint32_t driveTracks);

// The layout of a diskette of byteCount bytes; nullptr for a size no layout
// has.
[[nodiscard]] const DisketteLayout* FindLayoutOfCapacity(std::uint64_t byteCount);
