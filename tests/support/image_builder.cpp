// image_builder.cpp - FAT12 diskette images and their containers, for tests.
#include "tests/support/image_builder.h"

#include <algorithm>
#include <stdexcept>

DisketteLayout StandardLayout(DisketteSize size) {
    switch (size) {
        case DisketteSize::k160:  return {512, 1, 1, 2, 64, 320, 0xFE, 1, 8, 1};
        case DisketteSize::k180:  return {512, 1, 1, 2, 64, 360, 0xFC, 2, 9, 1};
        case DisketteSize::k320:  return {512, 2, 1, 2, 112, 640, 0xFF, 1, 8, 2};
        case DisketteSize::k360:  return {512, 2, 1, 2, 112, 720, 0xFD, 2, 9, 2};
        case DisketteSize::k720:  return {512, 2, 1, 2, 112, 1440, 0xF9, 3, 9, 2};
        case DisketteSize::k1200: return {512, 1, 1, 2, 224, 2400, 0xF9, 7, 15, 2};
        case DisketteSize::k1440: return {512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2};
        case DisketteSize::k2880: return {512, 2, 1, 2, 240, 5760, 0xF0, 9, 36, 2};
    }
    throw std::invalid_argument("unknown diskette size");
}

std::uint32_t RootDirectorySectors(const DisketteLayout& layout) {
    const std::uint32_t bytes = layout.rootEntries * 32u;
    return (bytes + layout.bytesPerSector - 1) / layout.bytesPerSector;
}

std::uint32_t DataStartSector(const DisketteLayout& layout) {
    return layout.reservedSectors + layout.fatCount * static_cast<std::uint32_t>(layout.sectorsPerFat) +
           RootDirectorySectors(layout);
}

std::uint32_t ClusterCount(const DisketteLayout& layout) {
    const std::uint32_t dataStart = DataStartSector(layout);
    if (layout.totalSectors <= dataStart || layout.sectorsPerCluster == 0) return 0;
    return (layout.totalSectors - dataStart) / layout.sectorsPerCluster;
}

std::uint32_t TrackCount(const DisketteLayout& layout) {
    return layout.totalSectors / layout.sectorsPerTrack / layout.sides;
}

std::size_t TrackSideSize(const DisketteLayout& layout) {
    return static_cast<std::size_t>(layout.sectorsPerTrack) * layout.bytesPerSector;
}

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    PutLe16(bytes, offset, static_cast<std::uint16_t>(value));
    PutLe16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint16_t GetLe16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}

std::uint32_t GetLe32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    return GetLe16(bytes, offset) | (static_cast<std::uint32_t>(GetLe16(bytes, offset + 2)) << 16);
}

std::vector<std::uint8_t> TextBytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

static void PutPadded(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text,
                      std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        bytes.at(offset + i) = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

FatImage FormatImage(const DisketteLayout& layout, const std::string& bootLabel,
                     std::uint8_t dataFill) {
    FatImage image{layout, {}};
    const std::size_t size = static_cast<std::size_t>(layout.totalSectors) * layout.bytesPerSector;
    image.bytes.assign(size, 0);
    std::vector<std::uint8_t>& b = image.bytes;
    b.at(0) = 0xEB;
    b.at(1) = 0x3C;
    b.at(2) = 0x90;
    PutPadded(b, kBootOemName, "TESTIMG", 8);
    PutLe16(b, 11, layout.bytesPerSector);
    b.at(13) = layout.sectorsPerCluster;
    PutLe16(b, 14, layout.reservedSectors);
    b.at(16) = layout.fatCount;
    PutLe16(b, 17, layout.rootEntries);
    PutLe16(b, 19, layout.totalSectors);
    b.at(21) = layout.mediaDescriptor;
    PutLe16(b, 22, layout.sectorsPerFat);
    PutLe16(b, 24, layout.sectorsPerTrack);
    PutLe16(b, 26, layout.sides);
    b.at(kBootSignature) = 0x29;
    PutLe32(b, kBootSerial, 0x12345678);
    PutPadded(b, kBootLabel, bootLabel, 11);
    PutPadded(b, kBootFileSystemType, "FAT12", 8);
    if (layout.bytesPerSector >= 512) {
        b.at(510) = 0x55;
        b.at(511) = 0xAA;
    }
    for (unsigned copy = 0; copy < layout.fatCount; ++copy) {
        const std::size_t fat =
            (layout.reservedSectors + static_cast<std::size_t>(copy) * layout.sectorsPerFat) *
            layout.bytesPerSector;
        b.at(fat) = layout.mediaDescriptor;
        b.at(fat + 1) = 0xFF;
        b.at(fat + 2) = 0xFF;
    }
    const std::size_t dataStart = static_cast<std::size_t>(DataStartSector(layout)) * layout.bytesPerSector;
    if (dataStart < size) std::fill(b.begin() + static_cast<std::ptrdiff_t>(dataStart), b.end(), dataFill);
    return image;
}

FatImage ParseFatImage(std::vector<std::uint8_t> bytes) {
    FatImage image{};
    image.layout.bytesPerSector = GetLe16(bytes, 11);
    image.layout.sectorsPerCluster = bytes.at(13);
    image.layout.reservedSectors = GetLe16(bytes, 14);
    image.layout.fatCount = bytes.at(16);
    image.layout.rootEntries = GetLe16(bytes, 17);
    image.layout.totalSectors = GetLe16(bytes, 19);
    image.layout.mediaDescriptor = bytes.at(21);
    image.layout.sectorsPerFat = GetLe16(bytes, 22);
    image.layout.sectorsPerTrack = GetLe16(bytes, 24);
    image.layout.sides = GetLe16(bytes, 26);
    image.bytes = std::move(bytes);
    return image;
}

std::size_t SectorOffset(const FatImage& image, std::uint32_t sector) {
    return static_cast<std::size_t>(sector) * image.layout.bytesPerSector;
}

std::size_t ClusterOffset(const FatImage& image, std::uint16_t cluster) {
    if (cluster < 2) throw std::out_of_range("clusters count from 2");
    return SectorOffset(image, DataStartSector(image.layout) +
                                   (cluster - 2u) * image.layout.sectorsPerCluster);
}

std::size_t RootDirectoryOffset(const FatImage& image) {
    return SectorOffset(image, image.layout.reservedSectors +
                                   image.layout.fatCount * static_cast<std::uint32_t>(image.layout.sectorsPerFat));
}

// ---------------------------------------------------------------------------

static std::size_t FatCopyOffset(const FatImage& image, unsigned copy) {
    return SectorOffset(image, image.layout.reservedSectors +
                                   copy * static_cast<std::uint32_t>(image.layout.sectorsPerFat));
}

void SetFatEntryInCopy(FatImage* image, unsigned copy, std::uint16_t cluster, std::uint16_t value) {
    const std::size_t at = FatCopyOffset(*image, copy) + cluster * 3u / 2u;
    std::vector<std::uint8_t>& b = image->bytes;
    value &= 0xFFF;
    if (cluster % 2 == 0) {
        b.at(at) = static_cast<std::uint8_t>(value);
        b.at(at + 1) = static_cast<std::uint8_t>((b.at(at + 1) & 0xF0) | (value >> 8));
    } else {
        b.at(at) = static_cast<std::uint8_t>((b.at(at) & 0x0F) | ((value & 0x0F) << 4));
        b.at(at + 1) = static_cast<std::uint8_t>(value >> 4);
    }
}

void SetFatEntry(FatImage* image, std::uint16_t cluster, std::uint16_t value) {
    for (unsigned copy = 0; copy < image->layout.fatCount; ++copy) {
        SetFatEntryInCopy(image, copy, cluster, value);
    }
}

std::uint16_t GetFatEntry(const FatImage& image, std::uint16_t cluster) {
    const std::size_t at = FatCopyOffset(image, 0) + cluster * 3u / 2u;
    const unsigned pair = image.bytes.at(at) | (image.bytes.at(at + 1) << 8);
    return static_cast<std::uint16_t>(cluster % 2 == 0 ? (pair & 0xFFF) : (pair >> 4));
}

void LinkChain(FatImage* image, const std::vector<std::uint16_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        SetFatEntry(image, clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : kFatEnd);
    }
}

std::vector<std::uint16_t> AllocateChain(FatImage* image, std::size_t clusterCount) {
    std::vector<std::uint16_t> chain;
    const std::uint32_t last = ClusterCount(image->layout) + 1;
    for (std::uint32_t cluster = 2; cluster <= last && chain.size() < clusterCount; ++cluster) {
        if (GetFatEntry(*image, static_cast<std::uint16_t>(cluster)) == kFatFree) {
            chain.push_back(static_cast<std::uint16_t>(cluster));
        }
    }
    if (chain.size() < clusterCount) throw std::runtime_error("diskette full");
    LinkChain(image, chain);
    return chain;
}

void WriteChainData(FatImage* image, const std::vector<std::uint16_t>& chain,
                    const std::vector<std::uint8_t>& data) {
    const std::size_t clusterSize =
        static_cast<std::size_t>(image->layout.sectorsPerCluster) * image->layout.bytesPerSector;
    std::size_t done = 0;
    for (std::uint16_t cluster : chain) {
        if (done >= data.size()) break;
        const std::size_t at = ClusterOffset(*image, cluster);
        const std::size_t count = std::min(clusterSize, data.size() - done);
        for (std::size_t i = 0; i < count; ++i) image->bytes.at(at + i) = data[done + i];
        done += count;
    }
    if (done < data.size()) throw std::out_of_range("chain too short for the data");
}

std::vector<std::uint16_t> FollowChain(const FatImage& image, std::uint16_t firstCluster) {
    std::vector<std::uint16_t> chain;
    const std::uint32_t limit = ClusterCount(image.layout);
    std::uint16_t cluster = firstCluster;
    while (cluster >= 2 && cluster < 0xFF7 && chain.size() < limit) {
        chain.push_back(cluster);
        cluster = GetFatEntry(image, cluster);
    }
    return chain;
}

// ---------------------------------------------------------------------------

std::uint16_t DosDate(unsigned year, unsigned month, unsigned day) {
    return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

std::uint16_t DosTime(unsigned hour, unsigned minute, unsigned second) {
    return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

DirectoryEntry FileEntry(const std::string& name, const std::string& extension,
                         std::uint8_t attributes) {
    DirectoryEntry entry;
    entry.name = name;
    entry.extension = extension;
    entry.attributes = attributes;
    entry.date = DosDate(1998, 6, 15);
    entry.time = DosTime(12, 30, 10);
    return entry;
}

DirectoryEntry VolumeLabelEntry(const std::string& label) {
    DirectoryEntry entry;
    entry.name = label.substr(0, std::min<std::size_t>(label.size(), 8));
    entry.extension = label.size() > 8 ? label.substr(8, 3) : "";
    entry.attributes = kAttrVolumeLabel;
    return entry;
}

RawEntry EncodeEntry(const DirectoryEntry& entry) {
    std::vector<std::uint8_t> b(kEntrySize, 0);
    PutPadded(b, 0, entry.name, 8);
    PutPadded(b, 8, entry.extension, 3);
    b.at(11) = entry.attributes;
    PutLe16(b, 22, entry.time);
    PutLe16(b, 24, entry.date);
    PutLe16(b, 26, entry.firstCluster);
    PutLe32(b, 28, entry.size);
    RawEntry raw{};
    std::copy(b.begin(), b.end(), raw.begin());
    return raw;
}

RawEntry LongNameEntry(std::uint8_t sequence, const std::string& text, std::uint8_t checksum) {
    // Character positions of a long-name entry: 5 at 1, 6 at 14, 2 at 28.
    static constexpr std::size_t kPositions[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::vector<std::uint8_t> b(kEntrySize, 0);
    b.at(0) = sequence;
    b.at(11) = kAttrLongName;
    b.at(13) = checksum;
    for (std::size_t i = 0; i < 13; ++i) {
        std::uint16_t unit = 0xFFFF;
        if (i < text.size()) unit = static_cast<std::uint8_t>(text[i]);
        if (i == text.size()) unit = 0x0000;
        PutLe16(b, kPositions[i], unit);
    }
    RawEntry raw{};
    std::copy(b.begin(), b.end(), raw.begin());
    return raw;
}

std::uint8_t ShortNameChecksum(const RawEntry& shortEntry) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i) {
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + shortEntry[i]);
    }
    return sum;
}

std::size_t DirectorySlotOffset(const FatImage& image, std::uint16_t directoryCluster,
                                std::size_t index) {
    if (directoryCluster == kRootDirectory) {
        if (index >= image.layout.rootEntries) throw std::out_of_range("root directory full");
        return RootDirectoryOffset(image) + index * kEntrySize;
    }
    const std::size_t perCluster =
        static_cast<std::size_t>(image.layout.sectorsPerCluster) * image.layout.bytesPerSector / kEntrySize;
    const std::vector<std::uint16_t> chain = FollowChain(image, directoryCluster);
    const std::size_t link = index / perCluster;
    if (link >= chain.size()) throw std::out_of_range("past the directory's last cluster");
    return ClusterOffset(image, chain[link]) + (index % perCluster) * kEntrySize;
}

void PutRawEntry(FatImage* image, std::uint16_t directoryCluster, std::size_t index,
                 const RawEntry& entry) {
    const std::size_t at = DirectorySlotOffset(*image, directoryCluster, index);
    for (std::size_t i = 0; i < kEntrySize; ++i) image->bytes.at(at + i) = entry[i];
}

void PutEntry(FatImage* image, std::uint16_t directoryCluster, std::size_t index,
              const DirectoryEntry& entry) {
    PutRawEntry(image, directoryCluster, index, EncodeEntry(entry));
}

std::size_t AppendEntry(FatImage* image, std::uint16_t directoryCluster, const RawEntry& entry) {
    for (std::size_t index = 0;; ++index) {
        const std::size_t at = DirectorySlotOffset(*image, directoryCluster, index);
        if (image->bytes.at(at) == 0x00) {
            PutRawEntry(image, directoryCluster, index, entry);
            return index;
        }
    }
}

std::size_t AppendEntry(FatImage* image, std::uint16_t directoryCluster,
                        const DirectoryEntry& entry) {
    return AppendEntry(image, directoryCluster, EncodeEntry(entry));
}

std::uint16_t AddFile(FatImage* image, std::uint16_t directoryCluster, DirectoryEntry entry,
                      const std::vector<std::uint8_t>& content) {
    const std::size_t clusterSize =
        static_cast<std::size_t>(image->layout.sectorsPerCluster) * image->layout.bytesPerSector;
    const std::size_t clusters = (content.size() + clusterSize - 1) / clusterSize;
    entry.firstCluster = 0;
    if (clusters > 0) {
        const std::vector<std::uint16_t> chain = AllocateChain(image, clusters);
        WriteChainData(image, chain, content);
        entry.firstCluster = chain.front();
    }
    entry.size = static_cast<std::uint32_t>(content.size());
    AppendEntry(image, directoryCluster, entry);
    return entry.firstCluster;
}

std::uint16_t AddDirectory(FatImage* image, std::uint16_t parentCluster, DirectoryEntry entry,
                           std::size_t clusterCount) {
    const std::vector<std::uint16_t> chain = AllocateChain(image, clusterCount);
    const std::size_t clusterSize =
        static_cast<std::size_t>(image->layout.sectorsPerCluster) * image->layout.bytesPerSector;
    for (std::uint16_t cluster : chain) {
        const std::size_t at = ClusterOffset(*image, cluster);
        for (std::size_t i = 0; i < clusterSize; ++i) image->bytes.at(at + i) = 0;
    }
    entry.attributes |= kAttrDirectory;
    entry.firstCluster = chain.front();
    entry.size = 0;
    DirectoryEntry self = entry;
    self.name = ".";
    self.extension = "";
    DirectoryEntry parent = entry;
    parent.name = "..";
    parent.extension = "";
    parent.firstCluster = parentCluster;
    PutEntry(image, chain.front(), 0, self);
    PutEntry(image, chain.front(), 1, parent);
    AppendEntry(image, parentCluster, entry);
    return chain.front();
}

// ---------------------------------------------------------------------------

std::uint32_t ReferenceCrc32(const std::uint8_t* bytes, std::size_t length) {
    if (length == 0) return 0;
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFu;
}

std::vector<bool> ReferenceUsedTrackSides(const FatImage& image, bool wholeClusters) {
    const DisketteLayout& l = image.layout;
    const std::size_t sideCount = static_cast<std::size_t>(TrackCount(l)) * l.sides;
    std::vector<bool> used(sideCount, false);
    // The rule counts the root directory with integer division.
    const std::uint32_t system = l.rootEntries * 32u / l.bytesPerSector + l.fatCount * static_cast<std::uint32_t>(l.sectorsPerFat);
    const std::uint32_t dataStart = l.reservedSectors + system;
    for (std::size_t side = 0; side <= dataStart / l.sectorsPerTrack && side < sideCount; ++side) {
        used[side] = true;
    }
    const std::uint32_t clusters = l.totalSectors > dataStart ? (l.totalSectors - dataStart) / l.sectorsPerCluster : 0;
    const std::uint32_t examined = (clusters + 1) / 2 * 2;   // whole pairs of entries
    for (std::uint32_t cluster = 2; cluster < examined + 2; ++cluster) {
        const std::uint16_t value = GetFatEntry(image, static_cast<std::uint16_t>(cluster));
        if (value == kFatFree || value == kFatBad) continue;
        const std::uint32_t first = dataStart + (cluster - 2) * l.sectorsPerCluster;
        const std::uint32_t last = wholeClusters ? first + l.sectorsPerCluster - 1 : first;
        for (std::uint32_t sector = first; sector <= last; ++sector) {
            const std::size_t side = sector / l.sectorsPerTrack;
            if (side < sideCount) used[side] = true;
        }
    }
    return used;
}

std::vector<std::uint8_t> RebuiltImage(const FatImage& image, const std::vector<bool>& storedSides) {
    const std::size_t sideSize = TrackSideSize(image.layout);
    std::vector<std::uint8_t> rebuilt(storedSides.size() * sideSize, 0xF6);
    for (std::size_t side = 0; side < storedSides.size(); ++side) {
        if (!storedSides[side]) continue;
        std::copy_n(image.bytes.begin() + static_cast<std::ptrdiff_t>(side * sideSize), sideSize,
                    rebuilt.begin() + static_cast<std::ptrdiff_t>(side * sideSize));
    }
    return rebuilt;
}

NativeOptions NativeWith(bool sparse, bool withCrc) {
    NativeOptions options;
    options.sparse = sparse;
    options.withCrc = withCrc;
    return options;
}

SavedskfOptions SavedskfWith(std::uint16_t formatWord, std::uint16_t dataOffsetField,
                             std::optional<std::uint16_t> storedSectors) {
    SavedskfOptions options;
    options.formatWord = formatWord;
    options.dataOffsetField = dataOffsetField;
    options.storedSectors = storedSectors;
    return options;
}

std::vector<std::uint8_t> WrapNative(const FatImage& image, const NativeOptions& options) {
    const DisketteLayout& l = image.layout;
    std::vector<std::uint8_t> file(kNativeHeaderBytes, 0);
    std::copy_n(kNativeSignatureText, 11, file.begin());
    std::copy_n(image.bytes.begin() + 11, 25, file.begin() + 11);   // boot-sector bytes 11 to 35
    const std::size_t sideCount = static_cast<std::size_t>(TrackCount(l)) * l.sides;
    std::vector<bool> stored(sideCount, true);
    if (options.sparse) {
        stored = options.storedTrackSides.empty() ? ReferenceUsedTrackSides(image)
                                                  : options.storedTrackSides;
        stored.resize(sideCount, false);
        file.at(36) = 0xFF;
    }
    if (options.withCrc) {
        const std::vector<std::uint8_t> rebuilt = RebuiltImage(image, stored);
        file.at(37) = static_cast<std::uint8_t>(options.crcFlagByte | 1);
        PutLe32(file, 38, options.storedCrc ? *options.storedCrc
                                            : ReferenceCrc32(rebuilt.data(), rebuilt.size()));
    } else {
        file.at(37) = static_cast<std::uint8_t>(options.crcFlagByte & ~1u);
        if (options.storedCrc) PutLe32(file, 38, *options.storedCrc);
    }
    PutLe16(file, 42, static_cast<std::uint16_t>(TrackCount(l)));
    int deviceType = options.deviceType;
    if (deviceType < 0) {
        deviceType = (l.mediaDescriptor == 0xF9 && l.sectorsPerTrack == 9) ? 2
                     : l.sectorsPerTrack == 36                            ? 9
                                                                          : 0;
    }
    file.at(44) = static_cast<std::uint8_t>(deviceType);
    PutLe16(file, 45, options.deviceAttributes);
    const std::size_t sideSize = TrackSideSize(l);
    for (std::size_t side = 0; side < sideCount; ++side) {
        if (!stored[side]) continue;
        const auto from = image.bytes.begin() + static_cast<std::ptrdiff_t>(side * sideSize);
        file.insert(file.end(), from, from + static_cast<std::ptrdiff_t>(sideSize));
    }
    return file;
}

std::vector<std::uint8_t> WrapSavedskf(const FatImage& image, const SavedskfOptions& options) {
    const std::size_t dataOffset = options.dataOffsetField == 0 ? 512 : options.dataOffsetField;
    std::vector<std::uint8_t> file(dataOffset, 0);
    const std::size_t allSectors = image.bytes.size() / 512;
    const std::uint16_t storedSectors =
        options.storedSectors ? *options.storedSectors : static_cast<std::uint16_t>(allSectors);
    PutLe16(file, 0, options.formatWord);
    PutLe16(file, 26, options.sidesField ? *options.sidesField : image.layout.sides);
    PutLe16(file, 34, storedSectors);
    PutLe16(file, 38, options.dataOffsetField);
    const std::size_t storedBytes = std::min<std::size_t>(storedSectors * 512u, image.bytes.size());
    file.insert(file.end(), image.bytes.begin(),
                image.bytes.begin() + static_cast<std::ptrdiff_t>(storedBytes));
    return file;
}

std::vector<std::uint8_t> WrapPlain(const FatImage& image) { return image.bytes; }

std::vector<std::uint8_t> WrapEightByteHeader(const FatImage& image,
                                              std::optional<std::uint8_t> sidesByte,
                                              std::optional<std::uint16_t> sectorSizeWord) {
    std::vector<std::uint8_t> file(8 + image.bytes.size(), 0);
    file.at(1) = sidesByte ? *sidesByte : static_cast<std::uint8_t>(image.layout.sides);
    PutLe16(file, 2, static_cast<std::uint16_t>(TrackCount(image.layout)));
    PutLe16(file, 4, image.layout.sectorsPerTrack);
    PutLe16(file, 6, sectorSizeWord ? *sectorSizeWord : image.layout.bytesPerSector);
    std::copy(image.bytes.begin(), image.bytes.end(), file.begin() + 8);
    return file;
}
