// device_linux.cpp - the diskette operations on Linux, for the three forms a
// drive path can take: the kernel floppy driver, a USB floppy drive (a
// removable SCSI disk, asked and formatted with its own commands,
// usb_floppy.h) and a file that stands for a drive.
#include "diskette/device.h"

#include <fcntl.h>
#include <linux/fd.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "console/system_error.h"
#include "console/text.h"
#include "diskette/device_platform.h"
#include "diskette/diskette_layouts.h"
#include "diskette/usb_floppy.h"
#include "image/image_format.h"

// Direct transfers need buffers and lengths aligned to the device's logical
// block; 4096 covers USB drives with large blocks as well as 512.
static constexpr std::size_t kTransferAlignment = 4096;
static constexpr std::uint8_t kFormatFillerByte = 0xF6;
static constexpr std::size_t kSysfsValueSize = 32;    // bytes, NUL included

enum class DriveForm : std::uint8_t {
    kFloppyDriver = 1,                     // /dev/fdN: the kernel floppy driver
    kUsbFloppy = 2,                        // removable block device of a diskette's capacity
    kFile = 3,                             // a regular file: present = a diskette in the drive
};

struct DeviceHandle {
    alignas(kTransferAlignment) std::uint8_t transferBuffer[kTrackSideBufferSize];
    int descriptor;                        // open for reading, and for writing unless readOnly
    bool readOnly;                         // OpenDisketteForReading: nothing is written through it
    char path[kPathSize];                  // the drive's path, as DevicePathForDrive gave it
    DriveForm form;
    std::uint32_t sides;                   // track sides per cylinder as addressed: kDriveSides,
                                           //   or a drive file's own (its size's layout, or the
                                           //   layout PrepareFormat gave it)
    bool formatKnown;                      // floppy driver: the driver recognised the diskette at open
    bool formatting;                       // floppy driver: FDFMTBEG accepted, FDFMTEND still due
    bool prepared;                         // PrepareFormat set the layout below
    MediaType preparedMedia;
    std::uint32_t preparedSectorsPerTrack;
    std::uint32_t formatBlockCount;        // USB floppy: the capacity prepared, in blocks
    std::uint32_t formatBlockLength;       //   of this many bytes
    bool sizeReread;                       // USB floppy: the system was asked for the size anew
    std::uint64_t openGeneration;          // floppy driver: its count of diskette changes at open
    bool generationKnown;                  //   when the driver told it
    dev_t fileDevice;                      // drive file: the file opened, to tell it from one that
    ino_t fileInode;                       //   replaced it since
};

static std::uint32_t LastErrorCode() {
    return SystemCodeFromPlatformError(errno);
}

// A failed write: EIO means a write fault here, not a read fault.
static std::uint32_t WriteErrorCode(int errorNumber) {
    if (errorNumber == EIO) return kErrorWriteFault;
    return SystemCodeFromPlatformError(errorNumber);
}

void PauseMilliseconds(std::uint32_t milliseconds) {
    struct timespec remaining {};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

std::uint32_t DevicePathForDrive(const char* driveName, char* path, std::size_t pathSize) {
    const char letter = DriveLetterOf(driveName);
    if (letter == '\0') return kErrorInvalidParameter;
    char variableName[] = "DISKETTE_?";
    variableName[std::size(variableName) - 2] = letter;
    const char* named = std::getenv(variableName);
    int length = 0;
    if (named != nullptr && named[0] != '\0') {
        length = std::snprintf(path, pathSize, "%s", named);
    } else {
        length = std::snprintf(path, pathSize, "/dev/fd%d", letter - 'A');
    }
    if (length < 0 || static_cast<std::size_t>(length) >= pathSize) return kErrorFileNameTooLong;
    return 0;
}

// Reads a small decimal value from a sysfs file; false when there is none.
static bool ReadSysfsNumber(const char* fileName, std::uint64_t* value) {
    int descriptor = open(fileName, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    char text[kSysfsValueSize] = {};
    ssize_t count = read(descriptor, text, std::size(text) - 1);
    close(descriptor);
    if (count <= 0) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long number = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text) return false;
    *value = number;
    return true;
}

// Finds the layout of a diskette's capacity; false for any other.
static bool GeometryFromCapacity(std::uint64_t byteCount, DriveGeometry* geometry) {
    const DisketteLayout* layout = FindLayoutOfCapacity(byteCount);
    if (layout == nullptr) return false;
    geometry->heads = layout->heads;
    geometry->cylinders = layout->cylinders;
    geometry->sectorsPerTrack = layout->sectorsPerTrack;
    geometry->bytesPerSector = kSectorUnit;
    return true;
}

// A removable block device that holds nothing or a diskette's capacity. The
// sysfs size counts 512-byte units whatever the device's block size.
static bool IsUsbFloppy(dev_t device) {
    char fileName[kPathSize];
    std::snprintf(fileName, std::size(fileName), "/sys/dev/block/%u:%u/removable",
                  major(device), minor(device));
    std::uint64_t removable = 0;
    if (!ReadSysfsNumber(fileName, &removable) || removable != 1) return false;
    std::snprintf(fileName, std::size(fileName), "/sys/dev/block/%u:%u/size", major(device),
                  minor(device));
    std::uint64_t units = 0;
    if (!ReadSysfsNumber(fileName, &units)) return false;
    if (units == 0) return true;
    DriveGeometry geometry{};
    return GeometryFromCapacity(units * kSectorUnit, &geometry);
}

// Fills *directory with the directory that would hold path; false when it
// does not exist or is no directory.
static bool FindDirectoryOf(const char* path, struct stat* directory) {
    char name[kPathSize];
    int length = std::snprintf(name, std::size(name), "%s", path);
    if (length < 0 || static_cast<std::size_t>(length) >= std::size(name)) return false;
    char* slash = std::strrchr(name, '/');
    if (slash == nullptr) {
        name[0] = '.';
        name[1] = '\0';
    } else if (slash == name) {
        name[1] = '\0';
    } else {
        *slash = '\0';
    }
    return stat(name, directory) == 0 && S_ISDIR(directory->st_mode);
}

// True when a directory lies among the device nodes: on the file system of
// /dev or, where /dev has none of its own but shares the root's, /dev itself.
// Decided by identity, not by spelling, so "//dev" and "/dev/." count too.
static bool IsAmongDeviceNodes(const struct stat* directory) {
    struct stat devices {};
    if (stat("/dev", &devices) != 0 || directory->st_dev != devices.st_dev) return false;
    struct stat root {};
    if (stat("/", &root) == 0 && root.st_dev == devices.st_dev) {
        return directory->st_ino == devices.st_ino;
    }
    return true;
}

// Decides what a drive path is, by what it names: a regular file is a drive
// file wherever it lies; a block device is a drive when it is the floppy
// driver's or a removable one of a diskette's capacity. A missing path is an
// empty file-backed drive when its directory exists and holds no device
// nodes: a missing /dev/fd0 (no floppy driver loaded) must never become a
// file in /dev. 0 and *form, or 3 when the directory of a missing path does
// not exist, 20 when the path is no diskette drive.
static std::uint32_t ClassifyDrivePath(const char* path, DriveForm* form) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        if (errno != ENOENT) return LastErrorCode();
        struct stat directory {};
        if (!FindDirectoryOf(path, &directory)) return kErrorPathNotFound;
        if (IsAmongDeviceNodes(&directory)) return kErrorBadUnit;
        *form = DriveForm::kFile;
        return 0;
    }
    if (S_ISREG(info.st_mode)) {
        *form = DriveForm::kFile;
        return 0;
    }
    if (!S_ISBLK(info.st_mode)) return kErrorBadUnit;
    // O_NONBLOCK (O_NDELAY) opens a floppy drive even when it is empty.
    int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return LastErrorCode();
    floppy_drive_name driveType = {};
    bool isFloppy = ioctl(descriptor, FDGETDRVTYP, driveType) == 0;
    close(descriptor);
    if (isFloppy) {
        *form = DriveForm::kFloppyDriver;
        return 0;
    }
    if (!IsUsbFloppy(info.st_rdev)) return kErrorBadUnit;
    *form = DriveForm::kUsbFloppy;
    return 0;
}

bool IsDriveTheFile(const char* driveName, int fileHandle) {
    char path[kPathSize];
    if (DevicePathForDrive(driveName, path, std::size(path)) != 0) return false;
    struct stat drive {};
    struct stat file {};
    if (stat(path, &drive) != 0 || fstat(fileHandle, &file) != 0) return false;
    return drive.st_dev == file.st_dev && drive.st_ino == file.st_ino;
}

bool IsDisketteDrive(const char* driveName) {
    char path[kPathSize];
    if (DevicePathForDrive(driveName, path, std::size(path)) != 0) return false;
    DriveForm form = DriveForm::kFile;
    return ClassifyDrivePath(path, &form) == 0;
}

// Opens the floppy driver's device. A normal open fails with ENXIO both for
// an empty drive and for a diskette the driver cannot read (unformatted):
// the open reads block 0 to detect the format. The disk-change line tells
// them apart: it stays active while the drive is empty, and the failed open
// stepped the head, which clears it when a diskette is in. A present but
// unreadable diskette is then opened with O_NDELAY, so that it can be
// formatted after PrepareFormat has set the layout, or read after
// SetReadLayout has. Opened for reading only, a write-protected diskette is
// no failure.
static std::uint32_t OpenFloppyDriver(const char* path, bool readOnly, int* descriptor,
                                      bool* formatKnown) {
    const int flags = (readOnly ? O_RDONLY : O_RDWR) | O_EXCL | O_DIRECT | O_CLOEXEC;
    *descriptor = open(path, flags);
    if (*descriptor >= 0) {
        *formatKnown = true;
        return 0;
    }
    if (errno != ENXIO) return LastErrorCode();
    int undetected = open(path, flags | O_NONBLOCK);
    if (undetected < 0) return LastErrorCode();
    floppy_drive_struct state{};
    bool changed = true;
    for (int poll = 0; poll < 2 && changed; ++poll) {
        if (ioctl(undetected, FDPOLLDRVSTAT, &state) != 0) {
            std::uint32_t code = LastErrorCode();
            close(undetected);
            return code;
        }
        changed = (state.flags & FD_DISK_CHANGED) != 0;
    }
    if (changed) {
        close(undetected);
        return kErrorNotReady;
    }
    if (!readOnly && (state.flags & FD_DISK_WRITABLE) == 0) {
        close(undetected);
        return kErrorWriteProtect;
    }
    *descriptor = undetected;
    *formatKnown = false;
    return 0;
}

// True when path names a file that has no write permission bit at all.
static bool IsWithoutWritePermission(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// The sides of the diskette a drive file holds, as its size tells them; a
// file of no standard size (blank, say) is taken as two-sided until
// PrepareFormat gives it the image's layout.
static std::uint32_t SidesOfFile(int descriptor) {
    struct stat info {};
    DriveGeometry geometry{};
    if (fstat(descriptor, &info) != 0 ||
        !GeometryFromCapacity(static_cast<std::uint64_t>(info.st_size), &geometry)) {
        return kDriveSides;
    }
    return geometry.heads;
}

// Opens the drive exclusively, for reading and writing or for reading only.
static std::uint32_t OpenDrive(const char* driveName, bool readOnly, DeviceHandle** device) {
    *device = nullptr;
    char path[kPathSize];
    std::uint32_t code = DevicePathForDrive(driveName, path, std::size(path));
    if (code != 0) return code;
    DriveForm form = DriveForm::kFile;
    code = ClassifyDrivePath(path, &form);
    if (code != 0) return code;

    int descriptor = -1;
    bool formatKnown = true;
    std::uint32_t sides = kDriveSides;
    switch (form) {
        case DriveForm::kFloppyDriver:
            code = OpenFloppyDriver(path, readOnly, &descriptor, &formatKnown);
            if (code != 0) return code;
            break;
        case DriveForm::kUsbFloppy:
            descriptor = open(path, (readOnly ? O_RDONLY : O_RDWR) | O_EXCL | O_DIRECT | O_CLOEXEC);
            if (descriptor < 0) return LastErrorCode();
            // The drive tells a write-protected diskette when asked; the
            // system would take the writes and fail them one by one.
            code = readOnly ? 0 : CheckUfiWriteProtect(descriptor);
            if (code != 0) {
                close(descriptor);
                return code;
            }
            break;
        case DriveForm::kFile:
            // A file without any write permission is a write-protected
            // diskette, for every user: root would be let write it all the
            // same. The file missing is the drive without a diskette; the
            // flock is the exclusive hold of the drive.
            if (!readOnly && IsWithoutWritePermission(path)) return kErrorWriteProtect;
            descriptor = open(path, (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
            if (descriptor < 0) return errno == ENOENT ? kErrorNotReady : LastErrorCode();
            if (flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
                code = LastErrorCode();
                close(descriptor);
                return code;
            }
            sides = SidesOfFile(descriptor);
            break;
    }
    DeviceHandle* opened = new (std::nothrow) DeviceHandle{};
    if (opened == nullptr) {
        close(descriptor);
        return kErrorNotEnoughMemory;
    }
    opened->descriptor = descriptor;
    opened->readOnly = readOnly;
    (void)CopyText(opened->path, std::size(opened->path), path);
    opened->form = form;
    opened->formatKnown = formatKnown;
    opened->sides = sides;
    struct stat info {};
    if (form == DriveForm::kFile && fstat(descriptor, &info) == 0) {
        opened->fileDevice = info.st_dev;
        opened->fileInode = info.st_ino;
    }
    opened->generationKnown = ReadMediaGeneration(opened, &opened->openGeneration);
    *device = opened;
    return 0;
}

std::uint32_t OpenDiskette(const char* driveName, DeviceHandle** device) {
    return OpenDrive(driveName, false, device);
}

std::uint32_t OpenDisketteForReading(const char* driveName, DeviceHandle** device) {
    return OpenDrive(driveName, true, device);
}

// The bytes a USB drive's medium or a drive file holds.
static std::uint32_t GetMediumSize(const DeviceHandle* device, std::uint64_t* byteCount) {
    if (device->form == DriveForm::kUsbFloppy) {
        if (ioctl(device->descriptor, BLKGETSIZE64, byteCount) != 0) return LastErrorCode();
        return 0;
    }
    struct stat info {};
    if (fstat(device->descriptor, &info) != 0) return LastErrorCode();
    *byteCount = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

// The kind of drive the floppy driver has (its CMOS drive type) and the
// tracks it steps; a drive that does not tell is of unknown kind.
static void GetFloppyDriveKind(int descriptor, std::uint8_t* kind, std::uint32_t* tracks) {
    floppy_drive_params drive{};
    *kind = kDriveUnknown;
    *tracks = 0;
    if (ioctl(descriptor, FDGETDRVPRM, &drive) != 0) return;
    switch (drive.cmos) {
        case 1: *kind = kDrive525Double; break;
        case 2: *kind = kDrive525High; break;
        case 3: *kind = kDrive35Double; break;
        case 4: *kind = kDrive35High; break;
        case 5:
        case 6: *kind = kDrive35Extra; break;
        default: break;
    }
    *tracks = drive.tracks;
}

// The floppy driver's values for a layout of the table in the drive: with
// two heads whatever the diskette's sides, since a real drive is addressed
// as two-sided (a one-sided diskette on side 0 of each cylinder), and the
// table's values do not depend on the sides. false when the drive cannot
// take the layout.
static bool FindFloppyLayout(int descriptor, std::uint32_t cylinders,
                             std::uint32_t sectorsPerTrack, floppy_struct* format) {
    std::uint8_t kind = kDriveUnknown;
    std::uint32_t tracks = 0;
    GetFloppyDriveKind(descriptor, &kind, &tracks);
    const DisketteLayout* layout = FindLayout(cylinders, kDriveSides, sectorsPerTrack, kind, tracks);
    if (layout == nullptr) return false;
    *format = floppy_struct{};
    format->size = layout->sectorsPerTrack * kDriveSides * layout->cylinders;
    format->sect = layout->sectorsPerTrack;
    format->head = kDriveSides;
    format->track = layout->cylinders;
    format->stretch = layout->stretch;
    format->gap = layout->gap;
    format->rate = layout->rate;
    format->spec1 = layout->spec1;
    format->fmt_gap = layout->formatGap;
    return true;
}

// Gives the floppy driver a layout. A handle opened for reading only may
// not set it (EPERM): a second descriptor of access mode 3, which the block
// layer lets ask what a writer may but neither read nor write, sets it for
// the drive, also with a write-protected diskette in it.
static std::uint32_t SetFloppyLayout(DeviceHandle* device, const floppy_struct* format) {
    int descriptor = device->descriptor;
    if (device->readOnly) {
        descriptor = open(device->path, O_RDWR | O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) return LastErrorCode();
    }
    std::uint32_t code = 0;
    if (ioctl(descriptor, FDSETPRM, format) != 0) code = LastErrorCode();
    if (descriptor != device->descriptor) close(descriptor);
    if (code == 0) device->formatKnown = true;
    return code;
}

// The floppy driver takes a diskette of 21 sectors per track for a 1.44 MB
// one: it tries the 18-sector layout first, and sectors 1 to 18 of a longer
// track read as well. Where it found 18 sectors on 80 tracks but the boot
// sector describes 21 (the 1.68 MB DMF layout, or the 1.72 MB one of 82
// tracks) and the drive takes that layout, the layout is set and the last
// sector of track 0 read: when that is there, *detected becomes the layout;
// otherwise the driver's own is set back. A diskette whose boot sector says
// 18 sectors costs one sector read (from the driver's track buffer), not a
// sector that is not there.
static void FindTwentyOneSectors(DeviceHandle* device, floppy_struct* detected) {
    constexpr std::uint32_t kDetectedSectors = 18;
    constexpr std::uint32_t kWiderSectors = 21;
    if (detected->sect != kDetectedSectors || detected->track != 80 ||
        TransferAt(device, TransferDirection::kRead, 0, kSectorUnit) != 0) {
        return;
    }
    DeviceParameterBlock block{};
    DisketteGeometry boot{};
    ParametersFromBootSector(device->transferBuffer, &block);
    floppy_struct wider{};
    if (!GetDisketteGeometry(&block, &boot) || boot.sectorsPerTrack != kWiderSectors ||
        boot.sides != kDriveSides ||
        !FindFloppyLayout(device->descriptor, boot.trackCount, kWiderSectors, &wider) ||
        SetFloppyLayout(device, &wider) != 0) {
        return;
    }
    const std::uint64_t lastSector = (kWiderSectors - 1) * kSectorUnit;
    if (TransferAt(device, TransferDirection::kRead, lastSector, kSectorUnit) == 0) {
        *detected = wider;
        return;
    }
    (void)SetFloppyLayout(device, detected);
}

std::uint32_t QueryDriveGeometry(DeviceHandle* device, DriveGeometry* geometry) {
    *geometry = DriveGeometry{};
    if (device == nullptr) return kErrorInvalidHandle;
    if (device->form == DriveForm::kFloppyDriver) {
        // Opened without a recognised format: nothing to tell until
        // PrepareFormat has set a layout.
        if (!device->formatKnown && !device->prepared) return kErrorUnrecognizedMedia;
        floppy_struct parameters{};
        if (ioctl(device->descriptor, FDGETPRM, &parameters) != 0) return LastErrorCode();
        if (!device->prepared) FindTwentyOneSectors(device, &parameters);
        geometry->heads = parameters.head;
        geometry->cylinders = parameters.track;
        geometry->sectorsPerTrack = parameters.sect;
        geometry->bytesPerSector = static_cast<std::uint32_t>(FD_SECTSIZE(&parameters));
        return 0;
    }
    std::uint64_t byteCount = 0;
    const std::uint32_t code = GetMediumSize(device, &byteCount);
    if (code != 0) return code;
    if (!GeometryFromCapacity(byteCount, geometry)) return kErrorUnrecognizedMedia;
    return 0;
}

std::uint32_t SetVolumeLock(DeviceHandle* device, bool lock) {
    (void)lock;
    if (device == nullptr) return kErrorInvalidHandle;
    return 0;
}

// The image's cylinder count, as the image reader counts its tracks; 0 when
// the block gives no usable layout or more cylinders than a diskette has.
static std::uint32_t CylindersOfImage(const DeviceParameterBlock* parameters) {
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(parameters, &geometry) || geometry.trackCount > kMaximumTracks) {
        return 0;
    }
    return geometry.trackCount;
}


// Sets the floppy driver's layout for the image and starts formatting; 50
// when the drive cannot take the layout.
static std::uint32_t PrepareFloppyFormat(DeviceHandle* device, std::uint32_t sectorsPerTrack,
                                         std::uint32_t cylinders) {
    floppy_struct layout{};
    if (!FindFloppyLayout(device->descriptor, cylinders, sectorsPerTrack, &layout)) {
        return kErrorNotSupported;
    }
    if (ioctl(device->descriptor, FDSETPRM, &layout) != 0) return LastErrorCode();
    if (ioctl(device->descriptor, FDFMTBEG, nullptr) != 0) return LastErrorCode();
    device->formatting = true;
    return 0;
}

std::uint32_t PrepareFormat(DeviceHandle* device, DeviceParameterBlock parameters) {
    if (device == nullptr) return kErrorInvalidHandle;
    const std::uint32_t sectorsPerTrack = SectorsPerTrack(&parameters);
    const std::uint32_t bytesPerSector = BytesPerSector(&parameters);
    const std::uint32_t sides = Sides(&parameters);
    const std::uint32_t cylinders = CylindersOfImage(&parameters);
    if (!IsTransferSizeValid(sectorsPerTrack, bytesPerSector) || cylinders == 0 || sides == 0 ||
        sides > kDriveSides) {
        return kErrorInvalidParameter;
    }
    const MediaType media =
        SelectMediaType(parameters.deviceType, parameters.mediaDescriptor, sectorsPerTrack);
    std::uint32_t code = 0;
    switch (device->form) {
        case DriveForm::kFloppyDriver:
            // The layouts this layer sets carry the size code of 512-byte
            // sectors: any other size would format every track side and
            // then fail to write a single one.
            if (bytesPerSector != kSectorUnit) return kErrorInvalidParameter;
            code = PrepareFloppyFormat(device, sectorsPerTrack, cylinders);
            break;
        case DriveForm::kUsbFloppy: {
            // The drive formats a capacity it lists: the image's blocks.
            const std::uint64_t blockCount =
                static_cast<std::uint64_t>(cylinders) * sides * sectorsPerTrack;
            code = PrepareUfiFormat(device->descriptor, static_cast<std::uint32_t>(blockCount),
                                    bytesPerSector);
            device->formatBlockCount = static_cast<std::uint32_t>(blockCount);
            device->formatBlockLength = bytesPerSector;
            break;
        }
        case DriveForm::kFile: {
            // The file becomes the plain image of the diskette: cylinders x
            // sides x track side bytes, with the image's own sides.
            const std::uint64_t byteCount =
                TrackSideOffset(cylinders, 0, sides, sectorsPerTrack, bytesPerSector);
            if (ftruncate(device->descriptor, static_cast<off_t>(byteCount)) != 0) {
                code = WriteErrorCode(errno);
            } else {
                device->sides = sides;
            }
            break;
        }
    }
    if (code != 0) return code;
    device->prepared = true;
    device->preparedMedia = media;
    device->preparedSectorsPerTrack = sectorsPerTrack;
    return 0;
}

// Tells a write-protected diskette from a write fault after EIO: the floppy
// driver reports write protection only through its drive state.
static std::uint32_t FloppyWriteErrorCode(DeviceHandle* device, int errorNumber) {
    if (errorNumber != EIO) return WriteErrorCode(errorNumber);
    floppy_drive_struct state{};
    if (ioctl(device->descriptor, FDGETDRVSTAT, &state) == 0 &&
        (state.flags & FD_DISK_WRITABLE) == 0) {
        return kErrorWriteProtect;
    }
    return kErrorWriteFault;
}

std::uint8_t* TransferBufferOf(DeviceHandle* device) { return device->transferBuffer; }

std::uint32_t AddressedSides(const DeviceHandle* device) {
    return device != nullptr ? device->sides : kDriveSides;
}

// A file-backed diskette does not grow: a track side past its end is not
// there, as on a real diskette.
static std::uint32_t CheckInsideFile(DeviceHandle* device, std::uint64_t offset,
                                     std::size_t byteCount) {
    if (device->form != DriveForm::kFile) return 0;
    struct stat info {};
    if (fstat(device->descriptor, &info) != 0) return LastErrorCode();
    if (!FitsInside(offset, byteCount, static_cast<std::uint64_t>(info.st_size))) {
        return kErrorSectorNotFound;
    }
    return 0;
}

// True when a transfer on a USB floppy drive that this handle formats ends
// past the medium's size as the system holds it: the size it read before a
// format that changed the capacity (a new diskette has none). The system is
// asked to read the size anew once (BLKRRPART, which takes privileges: a
// reset of the drive or a new open does not do it); where it still holds
// the old one, the transfer goes to the drive as a UFI command.
static bool IsPastUsbMediumEnd(DeviceHandle* device, std::uint64_t end) {
    if (device->form != DriveForm::kUsbFloppy || !device->prepared) return false;
    std::uint64_t byteCount = 0;
    if (ioctl(device->descriptor, BLKGETSIZE64, &byteCount) != 0) return false;
    if (end <= byteCount) return false;
    if (!device->sizeReread) {
        device->sizeReread = true;
        if (ioctl(device->descriptor, BLKRRPART, nullptr) == 0 &&
            ioctl(device->descriptor, BLKGETSIZE64, &byteCount) == 0 && end <= byteCount) {
            return false;
        }
    }
    return true;
}

// A device's transfer that ends short has met the end of the diskette: code
// 27. A drive file's write ends short where the space ran out inside the
// request (a full file system, a quota, the file size limit): the rest is
// asked for once more, so that the system gives its reason (ENOSPC, EDQUOT,
// EFBIG); one that moves nothing more and gives no reason is code 27 too.
std::uint32_t TransferAt(DeviceHandle* device, TransferDirection direction, std::uint64_t offset,
                         std::size_t byteCount) {
    const bool write = direction == TransferDirection::kWrite;
    if (IsPastUsbMediumEnd(device, offset + byteCount)) {
        const std::uint32_t blockLength = device->formatBlockLength;
        return TransferUfiBlocks(device->descriptor, write, device->transferBuffer,
                                 static_cast<std::uint32_t>(offset / blockLength),
                                 static_cast<std::uint32_t>(byteCount / blockLength), blockLength);
    }
    if (write) {
        const std::uint32_t code = CheckInsideFile(device, offset, byteCount);
        if (code != 0) return code;
    }
    std::size_t doneCount = 0;
    for (;;) {
        std::uint8_t* buffer = device->transferBuffer + doneCount;
        const std::size_t restCount = byteCount - doneCount;
        const off_t position = static_cast<off_t>(offset + doneCount);
        const ssize_t count = write ? pwrite(device->descriptor, buffer, restCount, position)
                                    : pread(device->descriptor, buffer, restCount, position);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            if (!write) return LastErrorCode();
            if (device->form != DriveForm::kFloppyDriver) return WriteErrorCode(errno);
            return FloppyWriteErrorCode(device, errno);
        }
        doneCount += static_cast<std::size_t>(count);
        if (doneCount == byteCount) return 0;
        if (count == 0 || device->form != DriveForm::kFile) return kErrorSectorNotFound;
    }
}

// The floppy driver keeps the track it last wrote in a buffer of its own and
// answers reads of that track from there; flushing the buffer first makes
// the read come from the diskette, so that a verification compares what the
// diskette holds. A drive file's pages would answer from the system's cache
// in the same way: they are synced to the medium and dropped from the cache.
// Through a handle opened for reading only nothing was written, and the
// floppy driver refuses FDFLUSH on it: there is nothing to ready.
std::uint32_t PrepareReadBack(DeviceHandle* device, std::uint64_t offset, std::size_t byteCount) {
    if (device->readOnly) return 0;
    if (device->form == DriveForm::kFloppyDriver &&
        ioctl(device->descriptor, FDFLUSH, nullptr) != 0) {
        return LastErrorCode();
    }
    if (device->form == DriveForm::kFile) {
        if (fdatasync(device->descriptor) != 0) return WriteErrorCode(errno);
        (void)posix_fadvise(device->descriptor, static_cast<off_t>(offset),
                            static_cast<off_t>(byteCount), POSIX_FADV_DONTNEED);
    }
    return 0;
}

// A diskette without a readable first sector is unformatted: a drive file
// shorter than a sector (a blank one), or a diskette the floppy driver
// found no format on at open, which is not read at all.
std::uint32_t CheckFirstSectorThere(DeviceHandle* device) {
    if (device->form == DriveForm::kFloppyDriver && !device->formatKnown && !device->prepared) {
        return kErrorUnrecognizedMedia;
    }
    if (device->form == DriveForm::kFile) {
        struct stat info {};
        if (fstat(device->descriptor, &info) != 0) return LastErrorCode();
        if (static_cast<std::uint64_t>(info.st_size) < kSectorSize) return kErrorUnrecognizedMedia;
    }
    return 0;
}

std::uint32_t FormatTrack(DeviceHandle* device, std::uint32_t side, std::uint32_t track,
                          std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector,
                          std::uint8_t deviceType, std::uint8_t mediaDescriptor) {
    std::size_t byteCount = 0;
    std::uint64_t offset = 0;
    std::uint32_t code = CheckTrackSide(device, side, track, AddressedSides(device),
                                        sectorsPerTrack, bytesPerSector, &byteCount, &offset);
    if (code != 0) return code;
    // The layout was set once by PrepareFormat; a track of another layout
    // would be formatted with the wrong gaps and rate.
    const MediaType media = SelectMediaType(deviceType, mediaDescriptor, sectorsPerTrack);
    if (device->prepared &&
        (media != device->preparedMedia || sectorsPerTrack != device->preparedSectorsPerTrack)) {
        return kErrorInvalidParameter;
    }
    switch (device->form) {
        case DriveForm::kFloppyDriver: {
            format_descr request{};
            request.head = side;
            request.track = track;
            if (ioctl(device->descriptor, FDFMTTRK, &request) != 0) {
                return FloppyWriteErrorCode(device, errno);
            }
            return 0;
        }
        case DriveForm::kUsbFloppy:
            if (!device->prepared) return kErrorInvalidParameter;
            return FormatUfiTrack(device->descriptor, track, side, device->formatBlockCount,
                                  device->formatBlockLength);
        case DriveForm::kFile:
            break;
    }
    std::memset(device->transferBuffer, kFormatFillerByte, byteCount);
    return TransferAt(device, TransferDirection::kWrite, offset, byteCount);
}

static std::uint32_t SetFloppyReadLayout(DeviceHandle* device, const DriveGeometry* layout) {
    floppy_struct format{};
    if (layout->bytesPerSector != kSectorUnit ||
        !FindFloppyLayout(device->descriptor, layout->cylinders, layout->sectorsPerTrack,
                          &format)) {
        return kErrorNotSupported;
    }
    return SetFloppyLayout(device, &format);
}

// The bytes a device or file must hold for a layout: up to the end of its
// last track side as the device addresses it.
static std::uint64_t LayoutEnd(const DriveGeometry* layout, std::uint32_t addressedSides) {
    const std::uint64_t trackSideBytes =
        static_cast<std::uint64_t>(layout->sectorsPerTrack) * layout->bytesPerSector;
    return TrackSideOffset(layout->cylinders - 1, layout->heads - 1, addressedSides,
                           layout->sectorsPerTrack, layout->bytesPerSector) +
           trackSideBytes;
}

std::uint32_t SetReadLayout(DeviceHandle* device, const DriveGeometry* layout) {
    if (device == nullptr) return kErrorInvalidHandle;
    if (!IsReadLayoutValid(layout)) return kErrorInvalidParameter;
    if (device->form == DriveForm::kFloppyDriver) return SetFloppyReadLayout(device, layout);
    std::uint64_t byteCount = 0;
    const std::uint32_t code = GetMediumSize(device, &byteCount);
    if (code != 0) return code;
    // A drive file holds its diskette with the diskette's own sides.
    const std::uint32_t sides = device->form == DriveForm::kFile ? layout->heads : kDriveSides;
    if (LayoutEnd(layout, sides) > byteCount) return kErrorNotSupported;
    device->sides = sides;
    return 0;
}

// The floppy driver sees a diskette taken out by its disk change line, which
// it notes when it polls the drive; a quick swap it counts as a change.
std::uint32_t CheckDisketteUnchanged(DeviceHandle* device) {
    if (device == nullptr) return kErrorInvalidHandle;
    if (device->form == DriveForm::kFloppyDriver) {
        floppy_drive_struct state{};
        if (ioctl(device->descriptor, FDPOLLDRVSTAT, &state) != 0) return LastErrorCode();
        const bool changed =
            (state.flags & FD_DISK_CHANGED) != 0 ||
            (device->generationKnown &&
             static_cast<std::uint32_t>(state.generation) != device->openGeneration);
        return changed ? kErrorNotReady : 0;
    }
    if (device->form == DriveForm::kFile) {
        // Removed, or another file put in its place.
        struct stat opened {};
        struct stat named {};
        if (fstat(device->descriptor, &opened) != 0 || opened.st_nlink == 0 ||
            stat(device->path, &named) != 0 || named.st_dev != device->fileDevice ||
            named.st_ino != device->fileInode) {
            return kErrorNotReady;
        }
    }
    return 0;
}

// Keeps the code of the first step that failed: a failed write reaching the
// medium (the sync) is a write fault, a failed request a failure of its own.
static void KeepFirstFailure(std::uint32_t* code, bool succeeded, bool writing) {
    if (*code != 0 || succeeded) return;
    *code = writing ? WriteErrorCode(errno) : LastErrorCode();
}

std::uint32_t FlushDiskette(DeviceHandle* device) {
    if (device == nullptr) return kErrorInvalidHandle;
    std::uint32_t code = 0;
    if (device->formatting) {
        KeepFirstFailure(&code, ioctl(device->descriptor, FDFMTEND, nullptr) == 0, false);
        device->formatting = false;
    }
    KeepFirstFailure(&code, fsync(device->descriptor) == 0, true);
    if (device->form == DriveForm::kFloppyDriver) {
        KeepFirstFailure(&code, ioctl(device->descriptor, FDFLUSH, nullptr) == 0, false);
    }
    return code;
}

// Only a privileged user may drop the system's cache of a block device; for
// anyone else the data FlushDiskette synced is all that counts.
std::uint32_t DismountVolume(DeviceHandle* device, DeviceParameterBlock parameters) {
    (void)parameters;
    if (device == nullptr) return kErrorInvalidHandle;
    if (device->form == DriveForm::kFile) return 0;
    if (ioctl(device->descriptor, BLKFLSBUF, nullptr) == 0) return 0;
    if (errno == EACCES || errno == EPERM) return 0;
    return LastErrorCode();
}

void CloseDiskette(DeviceHandle* device) {
    if (device == nullptr) return;
    close(device->descriptor);
    delete device;
}

bool ReadMediaGeneration(DeviceHandle* device, std::uint64_t* generation) {
    if (device == nullptr || device->form != DriveForm::kFloppyDriver) return false;
    floppy_drive_struct state{};
    if (ioctl(device->descriptor, FDGETDRVSTAT, &state) != 0) return false;
    *generation = static_cast<std::uint32_t>(state.generation);
    return true;
}
