// device_platform.h - what the portable part of the device layer needs of the
// platform beyond device.h; implemented in device_<platform>.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "diskette/device.h"

inline constexpr std::uint32_t kSectorUnit = 512;     // bytes per sector must be a multiple
inline constexpr std::uint32_t kMaximumTracks = 255;  // a cylinder count no diskette passes

// True when a track side of this layout is a whole number of 512-byte units
// that fits kTrackSideBufferSize.
[[nodiscard]] bool IsTransferSizeValid(std::uint32_t sectorsPerTrack,
                                       std::uint32_t bytesPerSector);

// True when layout is one a diskette can have: one or two sides, 1 to
// kMaximumTracks cylinders, a track side a transfer can move.
[[nodiscard]] bool IsReadLayoutValid(const DriveGeometry* layout);

// True when the format request's media type formats a diskette of
// sectorsPerTrack sectors of 512 bytes on cylinders cylinders: its own
// sectors per track (36, 18, 9, 15 or 9) and no more than its cylinders (80,
// or 40 for 5.25" 360 KB). A DMF image of 21 sectors has no media type.
[[nodiscard]] bool IsMediaTypeLayout(MediaType media, std::uint32_t sectorsPerTrack,
                                     std::uint32_t cylinders);

// The letter of a drive name ("A:" ... "Z:", a letter of either case and a
// colon), upper-cased; '\0' when driveName is no such name.
[[nodiscard]] char DriveLetterOf(const char* driveName);

inline constexpr std::uint32_t kDriveSides = 2;     // a real drive's sides, whatever it holds

// Checks a track side request on a device of sides (1 or 2) track sides per
// cylinder: an open device, side 0 or 1, track up to kMaximumTracks, a valid
// transfer size. 0 with *byteCount and *offset (TrackSideOffset; below 16
// MiB), 6 for a null device, 87, or 27 for side 1 of a one-sided device.
[[nodiscard]] std::uint32_t CheckTrackSide(const DeviceHandle* device, std::uint32_t side,
                                           std::uint32_t track, std::uint32_t sides,
                                           std::uint32_t sectorsPerTrack,
                                           std::uint32_t bytesPerSector, std::size_t* byteCount,
                                           std::uint64_t* offset);

// The handle's buffer for transfers: kTrackSideBufferSize bytes, aligned as
// the platform's uncached transfers need. The portable operations copy
// through it, so that a caller's buffer may have any alignment.
[[nodiscard]] std::uint8_t* TransferBufferOf(DeviceHandle* device);

// Track sides per cylinder that requests on the device are addressed with:
// kDriveSides for a real drive, a drive file's own; kDriveSides for nullptr.
[[nodiscard]] std::uint32_t AddressedSides(const DeviceHandle* device);

enum class TransferDirection : std::uint8_t {
    kRead = 0,                         // device to the transfer buffer
    kWrite = 1,                        // the transfer buffer to the device
};

// Moves byteCount bytes (a multiple of 512, at most kTrackSideBufferSize)
// between the transfer buffer and the device at offset, in one request,
// with the platform's own steps around it (a drive file does not grow past
// its end: 27 for a write there; a USB floppy drive that formats moves what
// lies past the size the system still holds with its own commands; on
// Windows the critical-error dialogs are off). A transfer that ends short is code 27. device is not nullptr.
[[nodiscard]] std::uint32_t TransferAt(DeviceHandle* device, TransferDirection direction,
                                       std::uint64_t offset, std::size_t byteCount);

// Readies a read of byteCount bytes at offset to come from the medium rather
// than from what the system keeps of what was written before it: the floppy
// driver's track buffer is dropped, a drive file's pages synced and dropped
// from the cache. 0, or the code of the step that failed.
[[nodiscard]] std::uint32_t PrepareReadBack(DeviceHandle* device, std::uint64_t offset,
                                            std::size_t byteCount);

// 0 when the diskette may have a readable first sector; 1785 when it cannot
// (a drive file shorter than a sector, a diskette the floppy driver found no
// format on), without reading it.
[[nodiscard]] std::uint32_t CheckFirstSectorThere(DeviceHandle* device);

// Sleeps for the given number of milliseconds.
void PauseMilliseconds(std::uint32_t milliseconds);

// Sets *generation to the drive's count of diskette changes and returns true,
// or returns false where the drive keeps no such count.
[[nodiscard]] bool ReadMediaGeneration(DeviceHandle* device, std::uint64_t* generation);
