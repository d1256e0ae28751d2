// device_win.cpp - the diskette operations on Windows: the drive opened as a
// raw device ("\\.\A:") and driven through DeviceIoControl and positioned
// ReadFile and WriteFile. Drive letters are the system's own; no variable
// maps them elsewhere. The codes are GetLastError's. Every device request
// runs with the critical-error dialogs off.
#include "diskette/device.h"

#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "console/critical_errors_win.h"
#include "console/system_error.h"
#include "console/text.h"
#include "diskette/device_platform.h"

// Uncached transfers need buffers aligned to the sector size at least; a
// page covers every drive.
static constexpr std::size_t kTransferAlignment = 4096;

struct DeviceHandle {
    alignas(kTransferAlignment) std::uint8_t transferBuffer[kTrackSideBufferSize];
    HANDLE handle;                         // uncached, for reading and (but a reader's) writing
};

static_assert(static_cast<int>(MediaType::F5_1Pt2_512) == F5_1Pt2_512, "Windows numbering");
static_assert(static_cast<int>(MediaType::F3_1Pt44_512) == F3_1Pt44_512, "Windows numbering");
static_assert(static_cast<int>(MediaType::F3_2Pt88_512) == F3_2Pt88_512, "Windows numbering");
static_assert(static_cast<int>(MediaType::F3_720_512) == F3_720_512, "Windows numbering");
static_assert(static_cast<int>(MediaType::F5_360_512) == F5_360_512, "Windows numbering");
static_assert(sizeof(DISK_GEOMETRY) == 24, "as the drive returns it");
static_assert(sizeof(FORMAT_PARAMETERS) == 20, "as the drive takes it");

void PauseMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

bool ReadMediaGeneration(DeviceHandle* device, std::uint64_t* generation) {
    (void)device;
    (void)generation;
    return false;
}

std::uint32_t DevicePathForDrive(const char* driveName, char* path, std::size_t pathSize) {
    if (DriveLetterOf(driveName) == '\0') return kErrorInvalidParameter;
    if (!FormatText(path, pathSize, "\\\\.\\%s", driveName)) return kErrorFileNameTooLong;
    return 0;
}

// A request without buffers (lock, unlock, dismount); 0 or the error code.
static std::uint32_t SendControl(DeviceHandle* device, DWORD controlCode) {
    if (device == nullptr) return kErrorInvalidHandle;
    DWORD returned = 0;
    if (!DeviceIoControl(device->handle, controlCode, nullptr, 0, nullptr, 0, &returned, nullptr)) {
        return GetLastError();
    }
    return 0;
}

bool IsDriveTheFile(const char* driveName, int fileHandle) {
    (void)driveName;
    (void)fileHandle;
    return false;
}

bool IsDisketteDrive(const char* driveName) {
    CriticalErrorsOff errorMode;
    char path[kPathSize];
    if (DevicePathForDrive(driveName, path, std::size(path)) != 0) return false;
    // Access 0: the device is only asked, not read.
    HANDLE handle = CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    bool diskette = true;   // an empty diskette drive cannot tell its geometry
    if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                        sizeof(geometry), &returned, nullptr)) {
        diskette = geometry.MediaType != Unknown && geometry.MediaType != RemovableMedia &&
                   geometry.MediaType != FixedMedia;
    }
    CloseHandle(handle);
    return diskette;
}

// Opens the drive exclusively (share mode 0), past the cache, with access.
static std::uint32_t OpenDrive(const char* driveName, DWORD access, DeviceHandle** device) {
    CriticalErrorsOff errorMode;
    *device = nullptr;
    char path[kPathSize];
    std::uint32_t code = DevicePathForDrive(driveName, path, std::size(path));
    if (code != 0) return code;
    HANDLE handle = CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    DeviceHandle* opened = new (std::nothrow) DeviceHandle{};
    if (opened == nullptr) {
        CloseHandle(handle);
        return kErrorNotEnoughMemory;
    }
    opened->handle = handle;
    *device = opened;
    return 0;
}

std::uint32_t OpenDiskette(const char* driveName, DeviceHandle** device) {
    return OpenDrive(driveName, GENERIC_READ | GENERIC_WRITE, device);
}

std::uint32_t OpenDisketteForReading(const char* driveName, DeviceHandle** device) {
    return OpenDrive(driveName, GENERIC_READ, device);
}

std::uint32_t QueryDriveGeometry(DeviceHandle* device, DriveGeometry* geometry) {
    CriticalErrorsOff errorMode;
    *geometry = DriveGeometry{};
    if (device == nullptr) return kErrorInvalidHandle;
    DISK_GEOMETRY answer{};
    DWORD returned = 0;
    if (!DeviceIoControl(device->handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &answer,
                         sizeof(answer), &returned, nullptr)) {
        return GetLastError();
    }
    geometry->heads = answer.TracksPerCylinder;
    geometry->cylinders = answer.Cylinders.LowPart;
    geometry->sectorsPerTrack = answer.SectorsPerTrack;
    geometry->bytesPerSector = answer.BytesPerSector;
    return 0;
}

std::uint32_t SetVolumeLock(DeviceHandle* device, bool lock) {
    return SendControl(device, lock ? FSCTL_LOCK_VOLUME : FSCTL_UNLOCK_VOLUME);
}

// The driver formats each track side with the layout its request names:
// one of five media types, each of one layout of 512-byte sectors. An image
// of another layout (a DMF one of 21 sectors, a one-sided 160 KB one of 8)
// would be formatted with sectors its writes do not fit: it is refused
// before anything is formatted.
std::uint32_t PrepareFormat(DeviceHandle* device, DeviceParameterBlock parameters) {
    if (device == nullptr) return kErrorInvalidHandle;
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&parameters, &geometry) || geometry.sides > kDriveSides ||
        geometry.bytesPerSector != kSectorUnit) {
        return kErrorInvalidParameter;
    }
    const MediaType media = SelectMediaType(parameters.deviceType, parameters.mediaDescriptor,
                                            geometry.sectorsPerTrack);
    if (!IsMediaTypeLayout(media, geometry.sectorsPerTrack, geometry.trackCount)) {
        return kErrorNotSupported;
    }
    return 0;
}

std::uint32_t FormatTrack(DeviceHandle* device, std::uint32_t side, std::uint32_t track,
                          std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector,
                          std::uint8_t deviceType, std::uint8_t mediaDescriptor) {
    CriticalErrorsOff errorMode;
    std::size_t byteCount = 0;
    std::uint64_t offset = 0;
    std::uint32_t code = CheckTrackSide(device, side, track, kDriveSides, sectorsPerTrack,
                                        bytesPerSector, &byteCount, &offset);
    if (code != 0) return code;
    FORMAT_PARAMETERS request{};
    request.MediaType = static_cast<MEDIA_TYPE>(
        SelectMediaType(deviceType, mediaDescriptor, sectorsPerTrack));
    request.StartCylinderNumber = track;
    request.EndCylinderNumber = track;
    request.StartHeadNumber = side;
    request.EndHeadNumber = side;
    DWORD returned = 0;
    if (!DeviceIoControl(device->handle, IOCTL_DISK_FORMAT_TRACKS, &request, sizeof(request),
                         nullptr, 0, &returned, nullptr)) {
        return GetLastError();
    }
    return 0;
}

std::uint8_t* TransferBufferOf(DeviceHandle* device) { return device->transferBuffer; }

std::uint32_t AddressedSides(const DeviceHandle* device) {
    (void)device;
    return kDriveSides;
}

// One request. Every offset of a checked track side (below 16 MiB) and every
// transfer (up to kTrackSideBufferSize) fits the 32 bits of SetFilePointer
// and the calls.
std::uint32_t TransferAt(DeviceHandle* device, TransferDirection direction, std::uint64_t offset,
                         std::size_t byteCount) {
    CriticalErrorsOff errorMode;
    if (SetFilePointer(device->handle, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return GetLastError();
    }
    const DWORD count = static_cast<DWORD>(byteCount);
    DWORD transferred = 0;
    const BOOL done = direction == TransferDirection::kWrite
                          ? WriteFile(device->handle, device->transferBuffer, count, &transferred,
                                      nullptr)
                          : ReadFile(device->handle, device->transferBuffer, count, &transferred,
                                     nullptr);
    if (!done) return GetLastError();
    if (transferred != count) return kErrorSectorNotFound;
    return 0;
}

// The device is opened past the system's cache: every read comes from the
// diskette already.
std::uint32_t PrepareReadBack(DeviceHandle* device, std::uint64_t offset, std::size_t byteCount) {
    (void)device;
    (void)offset;
    (void)byteCount;
    return 0;
}

// Whether the first sector can be read is learnt by reading it.
std::uint32_t CheckFirstSectorThere(DeviceHandle* device) {
    (void)device;
    return 0;
}

// The driver reads every layout it can find on the diskette; there is
// nothing to set, and a layout the diskette does not have fails in its
// reads.
std::uint32_t SetReadLayout(DeviceHandle* device, const DriveGeometry* layout) {
    if (device == nullptr) return kErrorInvalidHandle;
    if (!IsReadLayoutValid(layout)) return kErrorInvalidParameter;
    return 0;
}

// The drive answers whether its diskette is there and the one it had: a
// diskette taken out gives ERROR_NOT_READY, one changed ERROR_MEDIA_CHANGED.
// A drive that cannot be asked so tells nothing.
std::uint32_t CheckDisketteUnchanged(DeviceHandle* device) {
    CriticalErrorsOff errorMode;
    if (device == nullptr) return kErrorInvalidHandle;
    DWORD returned = 0;
    if (DeviceIoControl(device->handle, IOCTL_DISK_CHECK_VERIFY, nullptr, 0, nullptr, 0,
                        &returned, nullptr)) {
        return 0;
    }
    const DWORD code = GetLastError();
    return code == ERROR_NOT_READY || code == ERROR_MEDIA_CHANGED ? kErrorNotReady : 0;
}

// Writes through the uncached handle have reached the driver when WriteFile
// returns; a drive with a cache of its own is asked to empty it. A device
// without one answers that the request is no function of it.
std::uint32_t FlushDiskette(DeviceHandle* device) {
    CriticalErrorsOff errorMode;
    if (device == nullptr) return kErrorInvalidHandle;
    if (FlushFileBuffers(device->handle)) return 0;
    const DWORD code = GetLastError();
    return code == ERROR_INVALID_FUNCTION ? 0 : code;
}

// The file system drops its view of the volume and mounts it anew at the
// next access.
std::uint32_t DismountVolume(DeviceHandle* device, DeviceParameterBlock parameters) {
    CriticalErrorsOff errorMode;
    (void)parameters;
    return SendControl(device, FSCTL_DISMOUNT_VOLUME);
}

void CloseDiskette(DeviceHandle* device) {
    if (device == nullptr) return;
    CloseHandle(device->handle);
    delete device;
}
