// image_writer.cpp - a diskette from memory into a native image file.
#include "image/image_writer.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/message.h"
#include "image/byte_order.h"
#include "image/crc32.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/output_file.h"
#include "image/used_track_map.h"

static void SendProgress(ProgressRoutine progress, std::uint64_t trackSide, std::uint32_t sides,
                         ProgressAction action, ImageRecord* image) {
    if (progress == nullptr) return;
    progress(static_cast<std::uint32_t>(trackSide / sides),
             static_cast<std::uint32_t>(trackSide % sides), action, image);
}

// Marks in readerMap the track sides a reader of a sparse file takes as
// used, as the reader finds them: the system area, and the first sector of
// each allocated cluster in the FAT as far as it lies in track side 0 (the
// reader scans it once that track side is in, the rest of its buffer still
// empty). Returns true when those track sides hold every allocated cluster
// whole, so that nothing is lost when only they are stored.
static bool IsSparseLossless(const ImageRecord* image, const DisketteGeometry* geometry,
                             std::uint8_t* readerMap, std::uint8_t* wholeMap) {
    const std::size_t mapSize = static_cast<std::size_t>(geometry->trackSideCount);
    InitUsedTrackMap(readerMap, geometry);
    DisketteGeometry firstSide = *geometry;
    firstSide.imageSize = geometry->trackSideSize;
    ScanFatIntoMap(readerMap, &firstSide, image->imageBuffer);
    std::memcpy(wholeMap, readerMap, mapSize);
    MarkWholeClustersInMap(wholeMap, geometry, image->imageBuffer);
    return std::memcmp(readerMap, wholeMap, mapSize) == 0;
}

int WriteNativeImage(ImageRecord* image, bool sparseAllowed, int fileHandle,
                     std::uint64_t offset, const char* outputName, ProgressRoutine progress,
                     NativeResult* result) {
    *result = NativeResult{};
    DisketteGeometry geometry{};
    DeviceParameterBlock block = image->parameters;
    std::memset(block.imageBytes, 0, sizeof(block.imageBytes));
    std::uint8_t header[kNativeHeaderLength];
    std::memcpy(header, kNativeSignature, kNativeSignatureLength);
    std::memcpy(header + kNativeSignatureLength, &block, sizeof(block));
    Recognition recognition{};
    // Only the image bytes change below, which the recognizer does not examine.
    if (!GetDisketteGeometry(&block, &geometry) || geometry.trackCount != image->trackCount ||
        image->imageBuffer == nullptr ||
        !RecognizeNative(header, std::size(header), &recognition)) {
        return 1;
    }
    const std::size_t mapSize = static_cast<std::size_t>(geometry.trackSideCount);
    std::uint8_t* maps = static_cast<std::uint8_t*>(std::malloc(2 * mapSize));
    if (maps == nullptr) {
        ReportMessage("Not enough memory.", kMessageError, 0);
        return 0;
    }
    std::uint8_t* readerMap = maps;
    const bool sparse =
        IsSparseLossless(image, &geometry, readerMap, maps + mapSize) && sparseAllowed;
    if (sparse) {
        for (std::uint64_t side = 0; side < geometry.trackSideCount; ++side) {
            if (readerMap[side] == kTrackSideUsed) continue;
            std::memset(image->imageBuffer + side * geometry.trackSideSize, kFillerByte,
                        static_cast<std::size_t>(geometry.trackSideSize));
        }
    }
    result->diskCrc =
        ComputeCrc32(image->imageBuffer, static_cast<std::size_t>(geometry.imageSize));
    result->storage = sparse ? NativeStorage::kSparse : NativeStorage::kComplete;

    block.imageBytes[kImageByteSparseFlag] = sparse ? kSparseFlagSet : 0;
    block.imageBytes[kImageByteCrcFlag] = kCrcFlagBit;
    WriteLe32(block.imageBytes + kImageByteStoredCrc, result->diskCrc);
    std::memcpy(header + kNativeSignatureLength, &block, sizeof(block));
    std::uint32_t code = WriteFileBytesAt(fileHandle, offset, header, std::size(header));
    result->byteCount = std::size(header);
    for (std::uint64_t side = 0; code == 0 && side < geometry.trackSideCount; ++side) {
        if (sparse && readerMap[side] != kTrackSideUsed) {
            SendProgress(progress, side, geometry.sides, ProgressAction::kTrackSideUnused, image);
            continue;
        }
        code = WriteFileBytesAt(fileHandle, offset + result->byteCount,
                                image->imageBuffer + side * geometry.trackSideSize,
                                geometry.trackSideSize);
        if (code != 0) break;
        result->byteCount += geometry.trackSideSize;
        SendProgress(progress, side, geometry.sides, ProgressAction::kTrackSideSaved, image);
    }
    std::free(maps);
    if (code != 0) {
        ReportMessage("'%s' could not be written.", kMessageError, code, outputName);
        return 0;
    }
    return 1;
}
