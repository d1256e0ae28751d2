// fuzz_image_reader.cpp - the recognizers and the image reader on arbitrary
// bytes: the input is an image file (header and track data); the reader reads
// it from a memory file, and a second image is read from where the first one
// ended, as the self-creating diskette does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/used_track_map.h"

// Geometries that ask for more than this are skipped: the reader would only
// allocate and fill a larger buffer (up to 65535 sectors of 65024 bytes).
static constexpr std::uint64_t kLargestImage = 64u << 10;

static int memoryFile = -1;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SendOutputToNull();
    memoryFile = CreateMemoryFile();
    if (memoryFile < 0) ReportFinding("memfd_create failed");
    return 0;
}

// The recognizers on a header buffer of exactly the input's length.
static void RecognizeShortHeader(const std::uint8_t* data, std::size_t size) {
    Recognition recognition{};
    if (!RecognizeImage(data, size, &recognition)) return;
    DisketteGeometry geometry{};
    (void)GetDisketteGeometry(&recognition.parameters, &geometry);
    (void)DisketteTypeName(&recognition.parameters);
}

// False when the header at offset names a diskette larger than kLargestImage.
static bool IsSmallEnough(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset >= size) return true;
    std::uint8_t header[kImageHeaderSize] = {};
    const std::size_t count = size - offset < sizeof(header) ? size - offset : sizeof(header);
    std::memcpy(header, data + offset, count);
    Recognition recognition{};
    if (!RecognizeImage(header, sizeof(header), &recognition)) return true;
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&recognition.parameters, &geometry)) return true;
    return geometry.imageSize <= kLargestImage;
}

static void CheckImage(const ImageRecord* image) {
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&image->parameters, &geometry)) {
        ReportFinding("an image was read whose geometry is refused");
    }
    if (geometry.trackCount != image->trackCount || image->imageBuffer == nullptr ||
        image->usedTrackMap == nullptr) {
        ReportFinding("the image record disagrees with its geometry");
    }
    for (std::uint64_t side = 0; side < geometry.trackSideCount; ++side) {
        if (image->usedTrackMap[side] != 0 && image->usedTrackMap[side] != 0xFF) {
            ReportFinding("used-track map byte neither 0 nor 0xFF");
        }
    }
    for (std::size_t i = 0; i < sizeof(image->parameters.imageBytes); ++i) {
        if (image->parameters.imageBytes[i] != 0) ReportFinding("image bytes left in the block");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecognizeShortHeader(data, size < kImageHeaderSize ? size : kImageHeaderSize);
    if (!IsSmallEnough(data, size, 0)) return 0;
    if (!FillMemoryFile(memoryFile, data, size)) return 0;
    ImageRecord image{};
    image.fileHandle = memoryFile;
    std::memcpy(image.imageFileName, "fuzz.img", sizeof("fuzz.img"));
    if (ReadImage(&image, ShowExtractorProgress) == 1) {
        CheckImage(&image);
        if (image.startOffset < 0 || static_cast<std::uint64_t>(image.startOffset) > size) {
            ReportFinding("start offset beyond the file");
        }
        CompleteUsedTrackMap(&image);
        if (IsSmallEnough(data, size, static_cast<std::size_t>(image.startOffset)) &&
            ReadImage(&image, ShowExtractorProgress) == 1) {
            CheckImage(&image);
        }
    }
    FreeImage(&image);
    return 0;
}
