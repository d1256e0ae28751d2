// device.h - raw access to one diskette drive, one whole track side (or, for a
// damaged one, one sector) at a time.
// Every operation returns 0 or a system error code (console/system_error.h) and
// reports nothing: the caller reports once, with the drive, track and side.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/device_parameter_block.h"

struct DeviceHandle;                       // opaque; defined in device_<platform>.cpp

inline constexpr std::size_t kSectorSize = 512;   // bytes read by ReadFirstSector

// The largest track side a transfer may move: 36 sectors of 512 bytes (2.88 MB
// diskettes) with room to spare. A longer request fails with code 87.
inline constexpr std::size_t kTrackSideBufferSize = 32768;

// The diskette in the drive at the time of the query.
struct DriveGeometry {
    std::uint32_t heads;                   // tracks per cylinder, 1 or 2
    std::uint32_t cylinders;               // tracks per side
    std::uint32_t sectorsPerTrack;
    std::uint32_t bytesPerSector;          // 512 on every standard diskette
};

// The layout a diskette is formatted with; the values are those of the
// classic disk media types, so that every platform names the same layouts.
enum class MediaType : std::uint8_t {
    F5_1Pt2_512 = 1,                       // 5.25" 1.2 MB, 15 sectors
    F3_1Pt44_512 = 2,                      // 3.5" 1.44 MB, 18 sectors
    F3_2Pt88_512 = 3,                      // 3.5" 2.88 MB, 36 sectors
    F3_720_512 = 5,                        // 3.5" 720 KB, 9 sectors
    F5_360_512 = 6,                        // 5.25" 360 KB, 9 sectors, 40 tracks
};

// Chooses the format layout for an image from its device type byte, media
// descriptor and sectors per track: the layout of the diskette type that
// ClassifyDiskette (image/image_format.h) finds, the same that the info line
// names, so a diskette is always formatted as the type shown for it.
[[nodiscard]] MediaType SelectMediaType(std::uint8_t deviceType, std::uint8_t mediaDescriptor,
                                        std::uint32_t sectorsPerTrack);

// Byte offset of a track side on a device with sides track sides per
// cylinder: (track x sides + side) x sectors per track x bytes per sector.
// A real drive is addressed as two-sided whatever the image says, so a
// one-sided image goes onto side 0 of each cylinder; a drive file holds its
// diskette as a plain image, with the diskette's own number of sides.
// Track 79, side 1 of an 18-sector diskette on two sides: 1,465,344.
[[nodiscard]] constexpr std::uint64_t TrackSideOffset(std::uint32_t track, std::uint32_t side,
                                                      std::uint32_t sides,
                                                      std::uint32_t sectorsPerTrack,
                                                      std::uint32_t bytesPerSector) {
    return (static_cast<std::uint64_t>(track) * sides + side) * sectorsPerTrack * bytesPerSector;
}

// Writes into path (pathSize bytes, NUL included) the device path that a drive
// name ("A:" ... "Z:", a letter and a colon) stands for. On Linux: the value
// of the environment variable DISKETTE_<letter> when it is set and not empty,
// else the floppy driver's device of that drive (/dev/fd0 for A:). On
// Windows: the drive itself, "\\.\A:". Returns 0, 87 for a malformed drive
// name or 206 when the path does not fit.
[[nodiscard]] std::uint32_t DevicePathForDrive(const char* driveName, char* path,
                                               std::size_t pathSize);

// True when the drive's path names the very file open as fileHandle (an
// image file, or the program's own file): the same device and inode, through
// hard and symbolic links alike. Writing the drive would then overwrite the
// image while it is read. Always false on Windows, where a drive name names
// a drive itself. Reports nothing.
[[nodiscard]] bool IsDriveTheFile(const char* driveName, int fileHandle);

// True when the drive name means a diskette drive: one that can be opened and
// either holds no diskette or holds one of a diskette's capacity. Every
// failure is an answer (no); nothing is reported.
[[nodiscard]] bool IsDisketteDrive(const char* driveName);

// Opens the drive exclusively (no other opener, which also keeps a mounted
// volume out) for reading and writing, past the system's cache. On success
// *device is the open drive, which CloseDiskette releases; on failure it is
// nullptr. 21: no diskette in the drive; 19: the diskette is write-protected
// (a drive file: one without any write permission bit; a USB drive says so
// when asked); 32: someone else has the drive open.
[[nodiscard]] std::uint32_t OpenDiskette(const char* driveName, DeviceHandle** device);

// Opens the drive exclusively, as OpenDiskette does, but for reading only:
// a write-protected diskette opens like any other (a drive file without any
// write permission too), and nothing can be written through the handle.
// The codes are OpenDiskette's, 19 aside.
[[nodiscard]] std::uint32_t OpenDisketteForReading(const char* driveName, DeviceHandle** device);

// Fills *geometry with the diskette in the drive. Fails when the diskette's
// format cannot be recognised; *geometry is then meaningless. Where the
// floppy driver found the 1.44 MB layout on a diskette whose boot sector
// describes 21 sectors per track, the 21-sector layout is tried on the last
// sector of track 0 and reported (and kept) when that sector is there.
[[nodiscard]] std::uint32_t QueryDriveGeometry(DeviceHandle* device, DriveGeometry* geometry);

// Locks (lock true) or unlocks the volume. The exclusive open already holds
// the drive, so both succeed for an open device.
[[nodiscard]] std::uint32_t SetVolumeLock(DeviceHandle* device, bool lock);

// Readies the drive for formatting the layout that parameters describe: its
// sectors per track and as many cylinders as the image reader reads (total
// sectors / sectors per track / sides). A real drive formats both sides,
// since it is addressed as two-sided; a drive file is sized to the plain
// image, cylinders x the image's sides (1 or 2) x track side bytes, and is
// addressed with those sides from then on. Called once before the first
// FormatTrack. 87: a layout that cannot be formatted (on the floppy driver
// also any sector size but 512 bytes; a drive file takes every size); 50:
// the drive cannot take the layout: the floppy driver formats the layouts
// of diskette/diskette_layouts.h that its kind of drive takes, with their
// own gaps and data rate; a USB floppy drive formats the image's capacity
// where it lists that capacity for the diskette in it (other codes: its
// answer, see diskette/usb_floppy.h). Nothing is touched before a refusal.
// After a format that changed a USB diskette's capacity, transfers past the
// size the system still holds go to the drive directly. On Windows,
// whose format request names the layout of each track side, there is
// nothing to ready.
[[nodiscard]] std::uint32_t PrepareFormat(DeviceHandle* device, DeviceParameterBlock parameters);

// Formats one side of one track with the layout SelectMediaType chooses
// (bytes per sector takes no part in the choice). side is 0 or 1.
[[nodiscard]] std::uint32_t FormatTrack(DeviceHandle* device, std::uint32_t side,
                                        std::uint32_t track, std::uint32_t sectorsPerTrack,
                                        std::uint32_t bytesPerSector, std::uint8_t deviceType,
                                        std::uint8_t mediaDescriptor);

// Writes one whole track side (sectors per track x bytes per sector bytes of
// buffer) at TrackSideOffset, in one request. Any buffer alignment is fine.
// side is 0 or 1; bytes per sector is a multiple of 512. A transfer that ends
// short, as past the end of the diskette, fails with 27, and so does side 1
// of a one-sided drive file.
[[nodiscard]] std::uint32_t WriteTrack(DeviceHandle* device, const std::uint8_t* buffer,
                                       std::uint32_t side, std::uint32_t track,
                                       std::uint32_t sectorsPerTrack,
                                       std::uint32_t bytesPerSector);

// Reads one whole track side into buffer from the diskette itself, not from
// a copy the system keeps of what was written: a drive file's track side is
// synced and dropped from the system's cache first, and a sync that fails
// gives its code (a handle opened for reading only has written nothing, and
// readies nothing). Otherwise as WriteTrack.
[[nodiscard]] std::uint32_t ReadTrack(DeviceHandle* device, std::uint8_t* buffer,
                                      std::uint32_t side, std::uint32_t track,
                                      std::uint32_t sectorsPerTrack,
                                      std::uint32_t bytesPerSector);

// Reads one sector of a track side into buffer (bytes per sector bytes), in
// one request: sector counts from 0 within the track side (the diskette
// numbers it sector + 1). The same checks as ReadTrack, and 87 for a sector
// past the track side's last; nothing is readied beforehand, so a drive file
// is read as the system has it.
[[nodiscard]] std::uint32_t ReadSector(DeviceHandle* device, std::uint8_t* buffer,
                                       std::uint32_t side, std::uint32_t track,
                                       std::uint32_t sector, std::uint32_t sectorsPerTrack,
                                       std::uint32_t bytesPerSector);

// Reads the kSectorSize bytes at the start of the diskette into buffer; tells
// whether a readable diskette is in the drive. 1785: the diskette is there
// but unformatted (it has no readable first sector), as a new one is.
[[nodiscard]] std::uint32_t ReadFirstSector(DeviceHandle* device, std::uint8_t* buffer);

// Sets the layout the diskette in the drive is read with from now on, where
// the drive found another one or none: layout gives cylinders, heads (1 or
// 2), sectors per track and bytes per sector. The floppy driver is given its
// own values for the layout (FDSETPRM, for the drive; through a handle opened
// for reading only, by a second descriptor that may set it); a drive file
// and a USB drive have nothing to set but must hold the layout, and a drive
// file is addressed with the layout's heads from then on. On Windows, whose
// driver reads the diskette as it finds it, there is nothing to set. 0; 87
// for a layout of no diskette (see PrepareFormat); 50 when the drive cannot
// read it: the floppy driver's kind of drive takes no such layout of
// diskette/diskette_layouts.h, the medium is too small.
[[nodiscard]] std::uint32_t SetReadLayout(DeviceHandle* device, const DriveGeometry* layout);

// Tells whether the diskette opened is still in the drive: 0, or 21 when it
// has been taken out or changed since the open (the floppy driver's disk
// change line or its count of changes; a drive file removed, or another one
// in its place; on Windows the drive's own check). A drive that cannot tell
// answers 0: a USB drive, whose reads fail with 21 themselves once it is
// empty.
[[nodiscard]] std::uint32_t CheckDisketteUnchanged(DeviceHandle* device);

// Makes everything written reach the diskette, after the last track side:
// for a drive file and a USB drive the only proof that the data is on the
// medium. On Linux: the floppy driver ends a format (FDFMTEND), then the
// device or file is synced (fsync) and the floppy driver's track buffer
// dropped (FDFLUSH); the first failing step's code is returned. On Windows,
// where the device is opened without the system's cache, FlushFileBuffers
// asks the drive for whatever it may still hold; a drive that has nothing to
// flush (the request is no function of it) is no failure.
[[nodiscard]] std::uint32_t FlushDiskette(DeviceHandle* device);

// Ends the work on the volume after FlushDiskette: the system forgets what it
// knew of the diskette's contents. Called while the volume is still locked.
// On Linux the block device's cache is dropped (BLKFLSBUF), which takes
// privileges an ordinary user lacks: a refused cache drop is no failure, and
// a drive file has no such cache. On Windows the volume is dismounted
// (FSCTL_DISMOUNT_VOLUME).
[[nodiscard]] std::uint32_t DismountVolume(DeviceHandle* device, DeviceParameterBlock parameters);

// Closes the drive and frees the handle; accepts nullptr.
void CloseDiskette(DeviceHandle* device);

// Waits until a diskette is in the drive, polling every 500 ms, and returns
// 1: a readable one, and also a write-protected or an unformatted one (codes
// 19 and 1785), so that the writer reports the protection, or formats the
// diskette or reports that its format is unknown, instead of waiting for
// ever; returns 0 when the key poll gives cancelKey. With acceptPresent
// false a diskette is taken only after the drive has been seen without one
// (or a diskette change has been seen), so the diskette just written must be
// taken out first. Reports nothing.
[[nodiscard]] int WaitForDiskette(const char* driveName, bool acceptPresent, int cancelKey);
