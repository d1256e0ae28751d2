// device_transfer.cpp - the transfers of track sides and sectors that every
// platform makes alike: the request is checked, copied through the handle's
// aligned buffer and handed to the platform's one transfer
// (device_platform.h). Linked with the platform's device file, so that a
// test program can link a scripted drive in place of both.
#include "diskette/device.h"

#include <cstring>

#include "console/system_error.h"
#include "diskette/device_platform.h"

std::uint32_t WriteTrack(DeviceHandle* device, const std::uint8_t* buffer, std::uint32_t side,
                         std::uint32_t track, std::uint32_t sectorsPerTrack,
                         std::uint32_t bytesPerSector) {
    std::size_t byteCount = 0;
    std::uint64_t offset = 0;
    const std::uint32_t code = CheckTrackSide(device, side, track, AddressedSides(device),
                                              sectorsPerTrack, bytesPerSector, &byteCount, &offset);
    if (code != 0) return code;
    std::memcpy(TransferBufferOf(device), buffer, byteCount);
    return TransferAt(device, TransferDirection::kWrite, offset, byteCount);
}

std::uint32_t ReadTrack(DeviceHandle* device, std::uint8_t* buffer, std::uint32_t side,
                        std::uint32_t track, std::uint32_t sectorsPerTrack,
                        std::uint32_t bytesPerSector) {
    std::size_t byteCount = 0;
    std::uint64_t offset = 0;
    std::uint32_t code = CheckTrackSide(device, side, track, AddressedSides(device),
                                        sectorsPerTrack, bytesPerSector, &byteCount, &offset);
    if (code == 0) code = PrepareReadBack(device, offset, byteCount);
    if (code == 0) code = TransferAt(device, TransferDirection::kRead, offset, byteCount);
    if (code != 0) return code;
    std::memcpy(buffer, TransferBufferOf(device), byteCount);
    return 0;
}

std::uint32_t ReadSector(DeviceHandle* device, std::uint8_t* buffer, std::uint32_t side,
                         std::uint32_t track, std::uint32_t sector, std::uint32_t sectorsPerTrack,
                         std::uint32_t bytesPerSector) {
    std::size_t byteCount = 0;
    std::uint64_t offset = 0;
    std::uint32_t code = CheckTrackSide(device, side, track, AddressedSides(device),
                                        sectorsPerTrack, bytesPerSector, &byteCount, &offset);
    if (code == 0 && sector >= sectorsPerTrack) code = kErrorInvalidParameter;
    if (code == 0) {
        code = TransferAt(device, TransferDirection::kRead,
                          offset + static_cast<std::uint64_t>(sector) * bytesPerSector,
                          bytesPerSector);
    }
    if (code != 0) return code;
    std::memcpy(buffer, TransferBufferOf(device), bytesPerSector);
    return 0;
}

std::uint32_t ReadFirstSector(DeviceHandle* device, std::uint8_t* buffer) {
    if (device == nullptr) return kErrorInvalidHandle;
    std::uint32_t code = CheckFirstSectorThere(device);
    if (code == 0) code = TransferAt(device, TransferDirection::kRead, 0, kSectorSize);
    if (code != 0) return code;
    std::memcpy(buffer, TransferBufferOf(device), kSectorSize);
    return 0;
}
