// fuzz_fat_volume.cpp - the FAT volume on an arbitrary image buffer with an
// arbitrary parameter block: the tree builder, the walk, the cluster chains,
// the entry fields and the listing lines. Input: the 36-byte block, then the
// buffer's bytes (the rest of the buffer is 0xF6, as the reader fills it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "extractor/fat_volume.h"
#include "extractor/listing.h"
#include "fuzz/fuzz_support.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/used_track_map.h"

// Larger geometries are skipped: they only make a larger buffer to fill.
static constexpr std::uint64_t kLargestImage = 64u << 10;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SendOutputToNull();
    return 0;
}

// Locale conventions chosen by one byte of the input.
static void ChooseLocale(std::uint8_t choice, LocaleSettings* locale) {
    static constexpr char kOrders[] = {kDateOrderMonthDayYear, kDateOrderDayMonthYear,
                                       kDateOrderYearMonthDay, 'x'};
    static constexpr char kSeparators[] = {'.', '/', ',', '\0'};
    *locale = LocaleSettings{};
    locale->dateOrder = kOrders[choice & 3u];
    locale->twelveHourClock = (choice & 4u) != 0;
    locale->thousandsSeparator[0] = kSeparators[(choice >> 3) & 3u];
    locale->dateSeparator[0] = kSeparators[(choice >> 5) & 3u];
    locale->timeSeparator[0] = (choice & 0x80u) != 0 ? ':' : '\0';
}

// Follows a file's chain as the extraction does and checks every address.
static void FollowFileChain(const FatVolume* volume, const std::uint8_t* entry) {
    ClusterBitmap visited{};
    std::uint16_t cluster = ReadLe16(entry + kEntryFirstCluster);
    while (IsDataCluster(volume, cluster) && MarkCluster(&visited, cluster)) {
        const std::uint8_t* address = ClusterAddress(volume, cluster);
        if (address == nullptr || address < volume->imageBuffer ||
            !FitsInside(static_cast<std::uint64_t>(address - volume->imageBuffer),
                        volume->clusterSize, volume->imageSize)) {
            ReportFinding("a data cluster lies outside the image buffer");
        }
        cluster = NextCluster(volume, cluster);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(DeviceParameterBlock)) return 0;
    ImageRecord image{};
    std::memcpy(&image.parameters, data, sizeof(DeviceParameterBlock));
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&image.parameters, &geometry) || geometry.imageSize > kLargestImage) {
        return 0;
    }
    image.trackCount = geometry.trackCount;
    const std::size_t imageSize = static_cast<std::size_t>(geometry.imageSize);
    image.imageBuffer = static_cast<std::uint8_t*>(std::malloc(imageSize));
    image.usedTrackMap = static_cast<std::uint8_t*>(std::malloc(geometry.trackSideCount));
    if (image.imageBuffer == nullptr || image.usedTrackMap == nullptr) {
        FreeImage(&image);
        return 0;
    }
    const std::size_t stored = size - sizeof(DeviceParameterBlock);
    const std::size_t copied = stored < imageSize ? stored : imageSize;
    std::memcpy(image.imageBuffer, data + sizeof(DeviceParameterBlock), copied);
    std::memset(image.imageBuffer + copied, kFillerByte, imageSize - copied);
    InitUsedTrackMap(image.usedTrackMap, &geometry);
    ScanFatIntoMap(image.usedTrackMap, &geometry, image.imageBuffer);
    CompleteUsedTrackMap(&image);
    PrintDisketteInfoLine(&image, InfoLineWording::kExtractor);

    FatVolume volume{};
    if (!OpenFatVolume(&image, &volume)) {
        FreeImage(&image);
        return 0;
    }
    if (volume.imageSize != geometry.imageSize) ReportFinding("volume size differs from the buffer");
    bool outOfMemory = false;
    TreeNode* root = BuildDirectoryTree(&volume, &outOfMemory);
    LocaleSettings locale{};
    ChooseLocale(image.parameters.deviceAttributes[1], &locale);
    ListingState listing{};
    for (TreeNode* node = root; node != nullptr; node = NextInWalk(node)) {
        EntryFields fields{};
        BuildEntryFields(node, &locale, &fields);
        PrintListingLine(&fields, &listing);
        if ((node->entry[kEntryAttributes] & kAttributeDirectory) == 0) {
            FollowFileChain(&volume, node->entry);
        }
    }
    FreeDirectoryTree(root);
    FreeImage(&image);
    return 0;
}
