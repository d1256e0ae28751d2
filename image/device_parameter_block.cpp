// device_parameter_block.cpp - the layout of a diskette from its block.
#include "image/device_parameter_block.h"

static constexpr std::uint64_t kRootEntrySize = 32;

bool GetDisketteGeometry(const DeviceParameterBlock* block, DisketteGeometry* geometry) {
    DisketteGeometry g{};
    g.bytesPerSector = BytesPerSector(block);
    g.sectorsPerTrack = SectorsPerTrack(block);
    g.sides = Sides(block);
    g.sectorsPerCluster = block->sectorsPerCluster;
    if (g.bytesPerSector == 0 || g.sectorsPerTrack == 0 || g.sides == 0 || g.sectorsPerCluster == 0) {
        return false;
    }
    g.totalSectors = TotalSectors(block);
    g.trackCount = g.totalSectors / g.sectorsPerTrack / g.sides;
    if (g.trackCount == 0) return false;
    g.reservedSectors = ReservedSectors(block);
    // At most 65535 x 32 / 1 + 255 x 65535: well inside 32 bits.
    g.systemSectors = static_cast<std::uint32_t>(RootEntries(block) * kRootEntrySize / g.bytesPerSector) +
                      static_cast<std::uint32_t>(block->fatCount) * SectorsPerFat(block);
    g.rootStartSector = g.reservedSectors + static_cast<std::uint64_t>(block->fatCount) * SectorsPerFat(block);
    g.dataStartSector = static_cast<std::uint64_t>(g.reservedSectors) + g.systemSectors;
    g.clusterCount = g.totalSectors > g.dataStartSector
                         ? (g.totalSectors - g.dataStartSector) / g.sectorsPerCluster
                         : 0;
    g.trackSideSize = static_cast<std::uint64_t>(g.sectorsPerTrack) * g.bytesPerSector;
    g.trackSideCount = static_cast<std::uint64_t>(g.sides) * g.trackCount;
    g.imageSize = g.trackSideCount * g.trackSideSize;
    *geometry = g;
    return true;
}
