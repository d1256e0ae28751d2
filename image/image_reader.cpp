// image_reader.cpp - one image file into memory, track side by track side.
#include "image/image_reader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/keys.h"
#include "console/message.h"
#include "console/system_error.h"
#include "image/crc32.h"
#include "image/image_file.h"
#include "image/image_format.h"
#include "image/used_track_map.h"

static_assert(kLargestDisketteSize <= SIZE_MAX, "a whole diskette fits one allocation");

static void SendProgress(ProgressRoutine progress, std::uint32_t track, std::uint32_t side,
                         ProgressAction action, ImageRecord* image) {
    if (progress != nullptr) progress(track, side, action, image);
}

static int ReportReadError(const ImageRecord* image) {
    ReportMessage("Error while reading image data from '%s'.", kMessageError, kErrorReadFault,
                  image->imageFileName);
    return 0;
}

void ReportImageNotHandled(const ImageRecord* image) {
    ReportMessage("'%s' contains image data which can not be handled.", kMessageError, 0,
                  image->imageFileName);
}

// Reads the header bytes, recognizes the format and checks that its block
// can be computed with. Returns 1, or 0 after reporting.
static int RecognizeHeader(ImageRecord* image, Recognition* recognition,
                           DisketteGeometry* geometry) {
    std::uint8_t header[kImageHeaderSize];
    std::int64_t position = 0;
    std::uint64_t readCount = 0;
    if (image->startOffset < 0 ||
        SeekFile(image->fileHandle, image->startOffset, SeekOrigin::kStart, &position) != 0 ||
        ReadFileBytes(image->fileHandle, header, std::size(header), &readCount) != 0 ||
        readCount < std::size(header)) {
        ReportMessage("The header of the image data from '%s' could not be read.", kMessageError, 0,
                      image->imageFileName);
        return 0;
    }
    if (!RecognizeImage(header, std::size(header), recognition) ||
        !GetDisketteGeometry(&recognition->parameters, geometry) ||
        geometry->imageSize > kLargestDisketteSize) {
        ReportImageNotHandled(image);
        return 0;
    }
    if (SeekFile(image->fileHandle, image->startOffset + recognition->headerLength,
                 SeekOrigin::kStart, &position) != 0) {
        return ReportReadError(image);
    }
    return 1;
}

// Reads one track side into destination (trackSideSize bytes) and keeps
// *consumed, the bytes taken from the file since the data start. With a data
// limit, the bytes past it are given back to the file and replaced by filler,
// so the file position ends just after the last stored byte. Returns 1, or 0
// after reporting.
static int ReadTrackSide(ImageRecord* image, std::uint8_t* destination, std::uint64_t trackSideSize,
                         std::uint64_t dataLimit, std::uint64_t* consumed) {
    if (dataLimit != 0 && *consumed >= dataLimit) {
        std::memset(destination, kFillerByte, trackSideSize);
        return 1;
    }
    std::uint64_t readCount = 0;
    if (ReadFileBytes(image->fileHandle, destination, trackSideSize, &readCount) != 0) {
        return ReportReadError(image);
    }
    *consumed += readCount;
    if (dataLimit != 0 && *consumed >= dataLimit) {
        // consumed was below the limit before this read, so excess < readCount.
        const std::uint64_t excess = *consumed - dataLimit;
        std::int64_t position = 0;
        if (excess != 0 && SeekFile(image->fileHandle, -static_cast<std::int64_t>(excess),
                                    SeekOrigin::kCurrent, &position) != 0) {
            return ReportReadError(image);
        }
        const std::uint64_t kept = readCount - excess;
        std::memset(destination + kept, kFillerByte, trackSideSize - kept);
        return 1;
    }
    if (readCount < trackSideSize) return ReportReadError(image);
    return 1;
}

// The track sides from first on that the file stores one after the other:
// every one in a full image, the used ones in a sparse image.
static std::uint64_t CountStoredRun(const ImageRecord* image, const DisketteGeometry* geometry,
                                    bool sparse, std::uint64_t first) {
    std::uint64_t last = first;
    while (last + 1 < geometry->trackSideCount &&
           (!sparse || image->usedTrackMap[last + 1] == kTrackSideUsed)) {
        ++last;
    }
    return last - first + 1;
}

int ReadImage(ImageRecord* image, ProgressRoutine progress) {
    FreeImage(image);
    image->crcMismatch = false;
    Recognition recognition{};
    DisketteGeometry geometry{};
    if (RecognizeHeader(image, &recognition, &geometry) == 0) return 0;

    DeviceParameterBlock* block = &recognition.parameters;
    const bool sparse = block->imageBytes[kImageByteSparseFlag] == kSparseFlagSet;
    const bool crcPresent = (block->imageBytes[kImageByteCrcFlag] & kCrcFlagBit) != 0;
    const std::uint32_t storedCrc = ReadLe32(block->imageBytes + kImageByteStoredCrc);
    std::memset(block->imageBytes, 0, sizeof(block->imageBytes));
    image->parameters = *block;
    image->trackCount = geometry.trackCount;
    image->skipUnused = sparse ? 1 : 0;

    SendProgress(progress, 0, 0, ProgressAction::kReset, image);

    // Zeroed, so that what the FAT scan and the info line see of sectors not
    // yet read is always the same: free FAT entries, an ended directory.
    image->imageBuffer = AllocateImageBuffer(geometry.imageSize);
    image->imageBufferSize = image->imageBuffer != nullptr ? geometry.imageSize : 0;
    image->usedTrackMap =
        static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(geometry.trackSideCount)));
    if (image->imageBuffer == nullptr || image->usedTrackMap == nullptr) {
        ReportMessage("Not enough memory.", kMessageError, 0);
        return 0;
    }
    InitUsedTrackMap(image->usedTrackMap, &geometry);

    // Without key polls between tracks nothing has to happen between two
    // track sides, so after track 0 each run of track sides that the file
    // stores one after the other arrives with one read. Track 0 is read side
    // by side as ever, so the FAT scan and the info line after its last side
    // see the same bytes. Data limits keep the reading side by side.
    const bool readRuns = !image->pollKeys && recognition.dataLimit == 0;
    std::uint64_t runEnd = 0;      // track sides before this one are in the buffer
    bool runShort = false;         // the file ended (or failed) at runEnd
    std::uint64_t consumed = 0;
    bool fatScanned = false;
    for (std::uint32_t track = 0; track < geometry.trackCount; ++track) {
        for (std::uint32_t side = 0; side < geometry.sides; ++side) {
            const std::uint64_t trackSide = static_cast<std::uint64_t>(track) * geometry.sides + side;
            std::uint8_t* destination = image->imageBuffer + trackSide * geometry.trackSideSize;
            if (sparse && image->usedTrackMap[trackSide] != kTrackSideUsed) {
                std::memset(destination, kFillerByte, geometry.trackSideSize);
                SendProgress(progress, track, side, ProgressAction::kTrackSideUnused, image);
                continue;
            }
            const bool arrived = trackSide < runEnd;   // with a run read before
            if (!arrived && runShort) return ReportReadError(image);
            if (!arrived && readRuns && track > 0) {
                const std::uint64_t runCount = CountStoredRun(image, &geometry, sparse, trackSide);
                const std::uint64_t byteCount = runCount * geometry.trackSideSize;
                std::uint64_t readCount = 0;
                const std::uint32_t code =
                    ReadFileBytes(image->fileHandle, destination, byteCount, &readCount);
                runEnd = trackSide + readCount / geometry.trackSideSize;
                runShort = code != 0 || readCount < byteCount;
                if (trackSide >= runEnd) return ReportReadError(image);
            } else if (!arrived && ReadTrackSide(image, destination, geometry.trackSideSize,
                                                 recognition.dataLimit, &consumed) == 0) {
                return 0;
            }
            // Track side 0 is always read first; it holds the first FAT of
            // every standard diskette, so every later decision sees the map
            // complete.
            if (!fatScanned) {
                ScanFatIntoMap(image->usedTrackMap, &geometry, image->imageBuffer);
                fatScanned = true;
            }
            SendProgress(progress, track, side, ProgressAction::kTrackSideRead, image);
        }
        if (image->pollKeys && PollKey() == kKeyEsc) {
            ReportMessage("Process canceled.", kMessageError, 0);
            return 0;
        }
    }

    if (crcPresent) {
        const std::uint32_t computedCrc =
            ComputeCrc32(image->imageBuffer, static_cast<std::size_t>(geometry.imageSize));
        if (computedCrc != storedCrc) {
            image->crcMismatch = true;
            ReportMessage("The diskette may be defective, because stored CRC in the image data is "
                          "'0x%08X', but the calculated CRC is '0x%08X'.",
                          kMessageError, 0, storedCrc, computedCrc);
        }
    }

    std::int64_t position = 0;
    if (SeekFile(image->fileHandle, 0, SeekOrigin::kCurrent, &position) != 0) {
        return ReportReadError(image);
    }
    image->startOffset = position;
    return 1;
}

void FreeImage(ImageRecord* image) {
    FreeImageBuffer(image->imageBuffer, image->imageBufferSize);
    std::free(image->usedTrackMap);
    image->imageBuffer = nullptr;
    image->imageBufferSize = 0;
    image->usedTrackMap = nullptr;
}
