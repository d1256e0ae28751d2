// used_track_map.cpp - the used-track map and the FAT scan.
#include "image/used_track_map.h"

#include "image/byte_order.h"

static constexpr std::uint64_t kFatPairSize = 3;        // two 12-bit entries
static constexpr std::uint64_t kFatFirstPair = 3;       // entries 0 and 1 hold media byte and filler
static constexpr std::uint16_t kFatFree = 0x000;
static constexpr std::uint16_t kFatBad = 0xFF7;

void InitUsedTrackMap(std::uint8_t* map, const DisketteGeometry* geometry) {
    const std::uint64_t lastSystemSide = geometry->dataStartSector / geometry->sectorsPerTrack;
    for (std::uint64_t side = 0; side < geometry->trackSideCount; ++side) {
        map[side] = side <= lastSystemSide ? kTrackSideUsed : kTrackSideUnused;
    }
}

static void MarkSectors(std::uint8_t* map, const DisketteGeometry* geometry,
                        std::uint64_t firstSector, std::uint64_t lastSector) {
    const std::uint64_t firstSide = firstSector / geometry->sectorsPerTrack;
    const std::uint64_t lastSide = lastSector / geometry->sectorsPerTrack;
    for (std::uint64_t side = firstSide; side <= lastSide && side < geometry->trackSideCount; ++side) {
        map[side] = kTrackSideUsed;
    }
}

static void MarkCluster(std::uint8_t* map, const DisketteGeometry* geometry, std::uint64_t cluster,
                        std::uint16_t entry, bool wholeCluster) {
    if (entry == kFatFree || entry == kFatBad) return;
    const std::uint64_t firstSector =
        geometry->dataStartSector + (cluster - 2) * geometry->sectorsPerCluster;
    const std::uint64_t lastSector =
        wholeCluster ? firstSector + geometry->sectorsPerCluster - 1 : firstSector;
    MarkSectors(map, geometry, firstSector, lastSector);
}

static void MarkAllocatedClusters(std::uint8_t* map, const DisketteGeometry* geometry,
                                  const std::uint8_t* imageBuffer, bool wholeCluster) {
    const std::uint64_t pairCount = (geometry->clusterCount + 1) / 2;
    const std::uint64_t fatOffset =
        static_cast<std::uint64_t>(geometry->reservedSectors) * geometry->bytesPerSector;
    for (std::uint64_t pair = 0; pair < pairCount; ++pair) {
        const std::uint64_t offset = fatOffset + kFatFirstPair + pair * kFatPairSize;
        // Later pairs lie further out still.
        if (!FitsInside(offset, kFatPairSize, geometry->imageSize)) return;
        const std::uint8_t* bytes = imageBuffer + offset;
        // Two entries in three bytes: the even one is byte 0 and the low half
        // of byte 1, the odd one the high half of byte 1 and byte 2.
        const std::uint16_t evenEntry = static_cast<std::uint16_t>(bytes[0] | ((bytes[1] & 0x0F) << 8));
        const std::uint16_t oddEntry = static_cast<std::uint16_t>((bytes[1] >> 4) | (bytes[2] << 4));
        MarkCluster(map, geometry, 2 * pair + 2, evenEntry, wholeCluster);
        MarkCluster(map, geometry, 2 * pair + 3, oddEntry, wholeCluster);
    }
}

void ScanFatIntoMap(std::uint8_t* map, const DisketteGeometry* geometry,
                    const std::uint8_t* imageBuffer) {
    MarkAllocatedClusters(map, geometry, imageBuffer, false);
}

void MarkWholeClustersInMap(std::uint8_t* map, const DisketteGeometry* geometry,
                            const std::uint8_t* imageBuffer) {
    // Beyond 4084 clusters a volume is no FAT12 volume, and its FAT cannot be
    // read with 12-bit entries: nothing can be told unused.
    if (geometry->clusterCount > kLargestFat12ClusterCount) {
        for (std::uint64_t side = 0; side < geometry->trackSideCount; ++side) map[side] = kTrackSideUsed;
        return;
    }
    MarkAllocatedClusters(map, geometry, imageBuffer, true);
}

void CompleteUsedTrackMap(ImageRecord* image) {
    if (image->imageBuffer == nullptr || image->usedTrackMap == nullptr) return;
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&image->parameters, &geometry)) return;
    if (geometry.trackCount != image->trackCount) return;
    MarkWholeClustersInMap(image->usedTrackMap, &geometry, image->imageBuffer);
}
