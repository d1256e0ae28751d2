// fat_volume.cpp - FAT12 clusters and the directory tree, in memory.
#include "extractor/fat_volume.h"

#include <cstdlib>

#include "image/byte_order.h"
#include "image/image_format.h"

bool OpenFatVolume(const ImageRecord* image, FatVolume* volume) {
    *volume = FatVolume{};
    DisketteGeometry geometry{};
    if (image->imageBuffer == nullptr || !GetDisketteGeometry(&image->parameters, &geometry) ||
        geometry.clusterCount > kLargestFat12ClusterCount) {
        return false;
    }
    const std::uint64_t bytesPerSector = geometry.bytesPerSector;
    volume->imageBuffer = image->imageBuffer;
    volume->imageSize = ImageBufferSize(image);
    volume->fatStart = geometry.reservedSectors * bytesPerSector;
    volume->rootStart = geometry.rootStartSector * bytesPerSector;
    volume->rootEntries = RootEntries(&image->parameters);
    volume->dataStart = geometry.dataStartSector * bytesPerSector;
    volume->clusterSize = geometry.sectorsPerCluster * geometry.bytesPerSector;
    volume->lastCluster = 0;
    if (volume->clusterSize > 0 && volume->dataStart < volume->imageSize) {
        std::uint64_t clusters = (volume->imageSize - volume->dataStart) / volume->clusterSize;
        // Values from 0xFF8 on end a chain, so no cluster can be numbered so high.
        std::uint64_t last = clusters + 1;
        if (last > kClusterChainEnd - 1) last = kClusterChainEnd - 1;
        volume->lastCluster = static_cast<std::uint32_t>(last);
    }
    return true;
}

namespace {

struct TreeBuild {
    const FatVolume* volume;
    ClusterBitmap directoryClusters;       // clusters already read as directory contents
    bool outOfMemory;
};

// Moves a directory on to the cluster that follows in its chain; false when
// there is none to read (end of chain, a number outside the data area, or a
// cluster read before).
bool EnterCluster(TreeBuild* build, std::uint16_t cluster) {
    return IsDataCluster(build->volume, cluster) && MarkCluster(&build->directoryClusters, cluster);
}

// Reads one directory: runs of entriesPerRun contiguous entries starting at
// entryOffset, then the clusters of its chain from following on. Returns the
// head of the list of its nodes.
TreeNode* ReadDirectory(TreeBuild* build, std::uint64_t entryOffset, std::uint32_t entriesPerRun,
                        std::uint16_t following, TreeNode* parent) {
    const FatVolume* volume = build->volume;
    TreeNode* head = nullptr;
    TreeNode* last = nullptr;
    std::uint32_t count = 0;
    if (entriesPerRun == 0) return nullptr;
    for (;;) {
        if (!FitsInside(entryOffset, kDirectoryEntrySize, volume->imageSize)) break;
        const std::uint8_t* entry = volume->imageBuffer + entryOffset;
        if (entry[kEntryName] == kEntryEndMark) break;
        const std::uint8_t attributes = entry[kEntryAttributes];
        if ((attributes & kAttributeVolumeLabel) == 0 && entry[kEntryName] != '.') {
            TreeNode* node = static_cast<TreeNode*>(std::calloc(1, sizeof(TreeNode)));
            if (node == nullptr) {
                build->outOfMemory = true;
                return head;
            }
            node->previousSibling = last;
            node->parent = parent;
            node->entry = entry;
            if (last == nullptr) {
                head = node;
            } else {
                last->nextSibling = node;
            }
            last = node;
            if ((attributes & kAttributeDirectory) != 0) {
                const std::uint16_t first = ReadLe16(entry + kEntryFirstCluster);
                if (EnterCluster(build, first)) {
                    node->firstChild = ReadDirectory(
                        build,
                        static_cast<std::uint64_t>(ClusterAddress(volume, first) - volume->imageBuffer),
                        volume->clusterSize / kDirectoryEntrySize, NextCluster(volume, first), node);
                }
                if (build->outOfMemory) return head;
            }
        }
        entryOffset += kDirectoryEntrySize;
        if (++count == entriesPerRun) {
            if (following >= kClusterChainEnd || !EnterCluster(build, following)) break;
            entryOffset = static_cast<std::uint64_t>(ClusterAddress(volume, following) - volume->imageBuffer);
            following = NextCluster(volume, following);
            count = 0;
        }
    }
    return head;
}

}  // namespace

TreeNode* BuildDirectoryTree(const FatVolume* volume, bool* outOfMemory) {
    TreeBuild build{};
    build.volume = volume;
    TreeNode* root = nullptr;
    if (volume->imageBuffer != nullptr) {
        root = ReadDirectory(&build, volume->rootStart, volume->rootEntries, kClusterChainEnd, nullptr);
    }
    *outOfMemory = build.outOfMemory;
    if (build.outOfMemory) {
        FreeDirectoryTree(root);
        return nullptr;
    }
    return root;
}

TreeNode* NextInWalk(TreeNode* node) {
    if (node->firstChild != nullptr) return node->firstChild;
    while (node != nullptr) {
        if (node->nextSibling != nullptr) return node->nextSibling;
        node = node->parent;
    }
    return nullptr;
}

void FreeDirectoryTree(TreeNode* root) {
    TreeNode* node = root;
    while (node != nullptr) {
        if (node->firstChild != nullptr) {
            TreeNode* child = node->firstChild;
            node->firstChild = nullptr;
            node = child;
            continue;
        }
        TreeNode* next = node->nextSibling != nullptr ? node->nextSibling : node->parent;
        std::free(node);
        node = next;
    }
}
