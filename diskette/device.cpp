// device.cpp - the parts of the device layer that no platform changes: the
// media type selection, the checks of drive names and track side requests,
// and the wait for a diskette.
#include "diskette/device.h"

#include "console/keys.h"
#include "console/system_error.h"
#include "diskette/device_platform.h"
#include "image/image_format.h"

static constexpr std::uint32_t kPollIntervalMilliseconds = 500;

static_assert(static_cast<int>(MediaType::F5_1Pt2_512) ==
              static_cast<int>(DisketteType::k525HighDensity), "one numbering");
static_assert(static_cast<int>(MediaType::F3_1Pt44_512) ==
              static_cast<int>(DisketteType::k35HighDensity), "one numbering");
static_assert(static_cast<int>(MediaType::F3_2Pt88_512) ==
              static_cast<int>(DisketteType::k35ExtraDensity), "one numbering");
static_assert(static_cast<int>(MediaType::F3_720_512) ==
              static_cast<int>(DisketteType::k35DoubleDensity), "one numbering");
static_assert(static_cast<int>(MediaType::F5_360_512) ==
              static_cast<int>(DisketteType::k525DoubleDensity), "one numbering");

MediaType SelectMediaType(std::uint8_t deviceType, std::uint8_t mediaDescriptor,
                          std::uint32_t sectorsPerTrack) {
    return static_cast<MediaType>(ClassifyDiskette(deviceType, mediaDescriptor, sectorsPerTrack));
}

bool IsMediaTypeLayout(MediaType media, std::uint32_t sectorsPerTrack, std::uint32_t cylinders) {
    std::uint32_t ownSectors = 9;
    std::uint32_t ownCylinders = 80;
    switch (media) {
        case MediaType::F3_2Pt88_512: ownSectors = 36; break;
        case MediaType::F3_1Pt44_512: ownSectors = 18; break;
        case MediaType::F3_720_512: break;
        case MediaType::F5_1Pt2_512: ownSectors = 15; break;
        case MediaType::F5_360_512: ownCylinders = 40; break;
    }
    return sectorsPerTrack == ownSectors && cylinders <= ownCylinders;
}

bool IsTransferSizeValid(std::uint32_t sectorsPerTrack, std::uint32_t bytesPerSector) {
    if (sectorsPerTrack == 0 || bytesPerSector == 0 || bytesPerSector % kSectorUnit != 0) {
        return false;
    }
    return static_cast<std::uint64_t>(sectorsPerTrack) * bytesPerSector <= kTrackSideBufferSize;
}

bool IsReadLayoutValid(const DriveGeometry* layout) {
    return IsTransferSizeValid(layout->sectorsPerTrack, layout->bytesPerSector) &&
           layout->heads != 0 && layout->heads <= kDriveSides && layout->cylinders != 0 &&
           layout->cylinders <= kMaximumTracks;
}

char DriveLetterOf(const char* driveName) {
    if (driveName == nullptr || driveName[0] == '\0' || driveName[1] != ':' ||
        driveName[2] != '\0') {
        return '\0';
    }
    const char letter = driveName[0];
    if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
    return letter >= 'A' && letter <= 'Z' ? letter : '\0';
}

std::uint32_t CheckTrackSide(const DeviceHandle* device, std::uint32_t side, std::uint32_t track,
                             std::uint32_t sides, std::uint32_t sectorsPerTrack,
                             std::uint32_t bytesPerSector, std::size_t* byteCount,
                             std::uint64_t* offset) {
    if (device == nullptr) return kErrorInvalidHandle;
    if (side > 1 || track > kMaximumTracks || !IsTransferSizeValid(sectorsPerTrack, bytesPerSector)) {
        return kErrorInvalidParameter;
    }
    if (side >= sides) return kErrorSectorNotFound;
    *byteCount = static_cast<std::size_t>(sectorsPerTrack) * bytesPerSector;
    *offset = TrackSideOffset(track, side, sides, sectorsPerTrack, bytesPerSector);
    return 0;
}

// One pass: open, lock, read the first sector, then release whatever was
// taken. Returns the code of the first step that failed; *generation is set
// (and *generationKnown true) when the drive keeps a count of changes.
static std::uint32_t ProbeDiskette(const char* driveName, std::uint64_t* generation,
                                   bool* generationKnown) {
    DeviceHandle* device = nullptr;
    std::uint32_t code = OpenDiskette(driveName, &device);
    if (code != 0) return code;
    *generationKnown = ReadMediaGeneration(device, generation);
    code = SetVolumeLock(device, true);
    if (code == 0) {
        std::uint8_t sector[kSectorSize];
        code = ReadFirstSector(device, sector);
    }
    (void)SetVolumeLock(device, false);
    CloseDiskette(device);
    return code;
}

int WaitForDiskette(const char* driveName, bool acceptPresent, int cancelKey) {
    // A diskette swapped quickly (or by an emulator, at once) may never make
    // the drive look empty; where the drive counts diskette changes, a count
    // that moved since the first pass means the same as an empty drive seen.
    bool seenEmpty = false;
    bool baselineKnown = false;
    std::uint64_t baseline = 0;
    for (;;) {
        std::uint64_t generation = 0;
        bool generationKnown = false;
        std::uint32_t code = ProbeDiskette(driveName, &generation, &generationKnown);
        if (generationKnown) {
            if (!baselineKnown) {
                baseline = generation;
                baselineKnown = true;
            } else if (generation != baseline) {
                seenEmpty = true;
            }
        }
        // A write-protected or an unformatted diskette is a diskette all the
        // same: the caller learns of the protection from its own open, and
        // formats the diskette or reports that it has no known format.
        const bool present =
            code == 0 || code == kErrorWriteProtect || code == kErrorUnrecognizedMedia;
        if (present && (seenEmpty || acceptPresent)) return 1;
        if (code == kErrorNotReady) seenEmpty = true;
        if (PollKey() == cancelKey) return 0;
        PauseMilliseconds(kPollIntervalMilliseconds);
    }
}
