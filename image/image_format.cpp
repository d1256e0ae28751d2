// image_format.cpp - the recognizers, the block from a boot sector, type
// name, volume label and info line.
#include "image/image_format.h"

#include <cstring>
#include <iterator>

#include "console/console.h"

// Boot-sector offsets. The parameter fields at 11 to 35 are, in order and
// width, the fields at block offsets 0 to 24.
static constexpr std::size_t kBootJump = 0;
static constexpr std::size_t kBootBytesPerSector = 11;
static constexpr std::size_t kBootReservedSectors = 14;
static constexpr std::size_t kBootFatCount = 16;
static constexpr std::size_t kBootRootEntries = 17;
static constexpr std::size_t kBootSectorsPerFat = 22;
static constexpr std::size_t kBootSides = 26;
static constexpr std::size_t kBootParametersLength = 25;
static constexpr std::size_t kBootVolumeLabel = 43;
static constexpr std::size_t kLabelLength = 11;
static constexpr std::uint8_t kShortJump = 0xEB;
static_assert(kBootBytesPerSector + kBootParametersLength == kBootFieldsSize, "boot fields");
// The conversion copies boot-sector bytes 11 to 35 in one piece, so every
// block field must sit at its boot-sector offset less 11.
static_assert(offsetof(DeviceParameterBlock, bytesPerSector) == 11 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, sectorsPerCluster) == 13 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, reservedSectors) == 14 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, fatCount) == 16 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, rootEntries) == 17 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, totalSectors) == 19 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, mediaDescriptor) == 21 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, sectorsPerFat) == 22 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, sectorsPerTrack) == 24 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, sides) == 26 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, hiddenSectors) == 28 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, totalSectors32) == 32 - 11, "block layout");
static_assert(offsetof(DeviceParameterBlock, imageBytes) == kBootParametersLength, "block layout");

// SAVEDSKF header: 16-bit words at these file offsets.
static constexpr std::size_t kSavedskfFormatWord = 0;
static constexpr std::uint16_t kSavedskfFormatFirst = 0x58AA;
static constexpr std::uint16_t kSavedskfFormatLast = 0x59AA;
static constexpr std::size_t kSavedskfSides = 26;
static constexpr std::size_t kSavedskfStoredSectors = 34;   // 512-byte sectors in the file
static constexpr std::size_t kSavedskfDataOffset = 38;      // 0 stands for 512
static constexpr std::uint32_t kSavedskfSectorSize = 512;

// Eight-byte-header image: sides byte at 1, sector size word at 6.
static constexpr std::size_t kEightByteHeaderLength = 8;
static constexpr std::size_t kEightByteSides = 1;
static constexpr std::size_t kEightByteSectorSize = 6;

// Directory entries, as far as the label lookup needs them.
static constexpr std::uint64_t kEntrySize = 32;
static constexpr std::size_t kEntryAttributes = 11;
static constexpr std::uint8_t kAttributeLabelBit = 0x08;   // labels and long-name entries (0x0F)

static constexpr std::uint8_t kMediaF0 = 0xF0;
static constexpr std::uint8_t kMediaF9 = 0xF9;

static bool IsOneOrTwo(std::uint16_t value) { return value == 1 || value == 2; }

bool RecognizeNative(const std::uint8_t* header, std::size_t headerSize, Recognition* result) {
    if (!FitsInside(0, kNativeHeaderLength, headerSize)) return false;
    if (std::memcmp(header, kNativeSignature, kNativeSignatureLength) != 0) return false;
    const std::uint8_t* stored = header + kNativeSignatureLength;
    if (!IsOneOrTwo(ReadLe16(stored + offsetof(DeviceParameterBlock, sides)))) return false;
    if (ReadLe16(stored + offsetof(DeviceParameterBlock, bytesPerSector)) % 512 != 0) return false;
    result->format = ImageFormat::kNative;
    std::memcpy(&result->parameters, stored, sizeof(DeviceParameterBlock));
    result->headerLength = kNativeHeaderLength;
    result->dataLimit = 0;
    return true;
}

bool RecognizeSavedskfOrPlain(const std::uint8_t* header, std::size_t headerSize,
                              Recognition* result) {
    if (!FitsInside(0, kBootFieldsSize, headerSize)) return false;
    const std::uint16_t formatWord = ReadLe16(header + kSavedskfFormatWord);
    if (formatWord >= kSavedskfFormatFirst && formatWord <= kSavedskfFormatLast) {
        if (!FitsInside(kSavedskfDataOffset, 2, headerSize)) return false;
        if (!IsOneOrTwo(ReadLe16(header + kSavedskfSides))) return false;
        std::uint32_t dataOffset = ReadLe16(header + kSavedskfDataOffset);
        if (dataOffset == 0) dataOffset = kSavedskfSectorSize;
        // The boot sector's fields must lie inside the bytes looked at.
        if (!FitsInside(dataOffset, kBootFieldsSize, headerSize)) return false;
        result->format = ImageFormat::kSavedskf;
        ParametersFromBootSector(header + dataOffset, &result->parameters);
        result->headerLength = dataOffset;
        result->dataLimit =
            static_cast<std::uint64_t>(ReadLe16(header + kSavedskfStoredSectors)) * kSavedskfSectorSize;
        return true;
    }
    if (!IsOneOrTwo(ReadLe16(header + kBootSides))) return false;
    if (header[kBootJump] != kShortJump) return false;
    if (ReadLe16(header + kBootBytesPerSector) % 512 != 0) return false;
    result->format = ImageFormat::kPlain;
    ParametersFromBootSector(header, &result->parameters);
    result->headerLength = 0;
    result->dataLimit = 0;
    return true;
}

bool RecognizeEightByteHeader(const std::uint8_t* header, std::size_t headerSize,
                              Recognition* result) {
    if (!FitsInside(kEightByteHeaderLength, kBootFieldsSize, headerSize)) return false;
    if (!IsOneOrTwo(header[kEightByteSides])) return false;
    if (ReadLe16(header + kEightByteSectorSize) % 512 != 0) return false;
    result->format = ImageFormat::kEightByteHeader;
    ParametersFromBootSector(header + kEightByteHeaderLength, &result->parameters);
    result->headerLength = kEightByteHeaderLength;
    result->dataLimit = 0;
    return true;
}

bool RecognizeImage(const std::uint8_t* header, std::size_t headerSize, Recognition* result) {
    *result = Recognition{};
    if (RecognizeNative(header, headerSize, result)) return true;
    if (RecognizeSavedskfOrPlain(header, headerSize, result)) return true;
    if (RecognizeEightByteHeader(header, headerSize, result)) return true;
    *result = Recognition{};
    return false;
}

void ParametersFromBootSector(const std::uint8_t* bootSector, DeviceParameterBlock* block) {
    *block = DeviceParameterBlock{};
    std::memcpy(block, bootSector + kBootBytesPerSector, kBootParametersLength);
    const std::uint16_t sectorsPerTrack = SectorsPerTrack(block);
    const std::uint16_t sides = Sides(block);
    std::uint16_t tracks = 0;
    if (sectorsPerTrack != 0 && sides != 0) {
        tracks = static_cast<std::uint16_t>(TotalSectors(block) / sectorsPerTrack / sides);
    }
    WriteLe16(block->tracks, tracks);
    if (block->mediaDescriptor == kMediaF9 && sectorsPerTrack == 9) {
        block->deviceType = kDeviceType720K;
    } else if (sectorsPerTrack == 36) {
        block->deviceType = kDeviceType288M;
    } else {
        block->deviceType = 0;
    }
}

DisketteType ClassifyDiskette(std::uint8_t deviceType, std::uint8_t mediaDescriptor,
                              std::uint32_t sectorsPerTrack) {
    if (deviceType == kDeviceType288M && sectorsPerTrack >= 36) return DisketteType::k35ExtraDensity;
    if (mediaDescriptor == kMediaF0) return DisketteType::k35HighDensity;
    if (deviceType == kDeviceType720K || (mediaDescriptor == kMediaF9 && sectorsPerTrack == 9)) {
        return DisketteType::k35DoubleDensity;
    }
    if (mediaDescriptor == kMediaF9 && sectorsPerTrack == 15) return DisketteType::k525HighDensity;
    return DisketteType::k525DoubleDensity;
}

const char* DisketteTypeName(const DeviceParameterBlock* block) {
    switch (ClassifyDiskette(block->deviceType, block->mediaDescriptor, SectorsPerTrack(block))) {
        case DisketteType::k35ExtraDensity: return "3,5\" XD";
        case DisketteType::k35HighDensity: return "3,5\" HD";
        case DisketteType::k35DoubleDensity: return "3,5\" DD";
        case DisketteType::k525HighDensity: return "5,25\" HD";
        case DisketteType::k525DoubleDensity: break;
    }
    return "5,25\" DD";
}

// Offset of the first root entry with the label bit, or false when none
// inside the buffer has it.
static bool FindLabelEntry(const std::uint8_t* imageBuffer, std::uint64_t imageSize,
                           std::uint64_t* entryOffset) {
    if (!FitsInside(0, kBootFieldsSize, imageSize)) return false;
    const std::uint64_t bytesPerSector = ReadLe16(imageBuffer + kBootBytesPerSector);
    const std::uint64_t reservedSectors = ReadLe16(imageBuffer + kBootReservedSectors);
    const std::uint64_t fatCount = imageBuffer[kBootFatCount];
    const std::uint64_t rootEntries = ReadLe16(imageBuffer + kBootRootEntries);
    const std::uint64_t sectorsPerFat = ReadLe16(imageBuffer + kBootSectorsPerFat);
    const std::uint64_t rootOffset = (fatCount * sectorsPerFat + reservedSectors) * bytesPerSector;
    for (std::uint64_t index = 0; index < rootEntries; ++index) {
        const std::uint64_t offset = rootOffset + index * kEntrySize;
        // Later entries lie further out still.
        if (!FitsInside(offset, kEntrySize, imageSize)) return false;
        if ((imageBuffer[offset + kEntryAttributes] & kAttributeLabelBit) != 0) {
            *entryOffset = offset;
            return true;
        }
    }
    return false;
}

void GetVolumeLabel(const std::uint8_t* imageBuffer, std::uint64_t imageSize, char* label,
                    std::size_t labelSize) {
    if (labelSize == 0) return;
    label[0] = '\0';
    if (labelSize < kVolumeLabelSize) return;
    std::memset(label, 0, kVolumeLabelSize);
    std::uint64_t offset = 0;
    if (!FindLabelEntry(imageBuffer, imageSize, &offset)) {
        if (!FitsInside(kBootVolumeLabel, kLabelLength, imageSize)) return;
        offset = kBootVolumeLabel;
    }
    std::memcpy(label, imageBuffer + offset, kLabelLength);
    label[kLabelLength] = '\0';
    for (std::size_t i = kLabelLength; i > 0 && static_cast<std::uint8_t>(label[i - 1]) < 0x20; --i) {
        label[i - 1] = '\0';
    }
}

std::uint64_t ImageBufferSize(const ImageRecord* image) {
    DisketteGeometry geometry{};
    if (!GetDisketteGeometry(&image->parameters, &geometry)) return 0;
    return geometry.trackSideSize * geometry.sides * image->trackCount;
}

void PrintDisketteInfoLine(const ImageRecord* image, InfoLineWording wording) {
    char label[kVolumeLabelSize];
    const std::uint64_t imageSize = ImageBufferSize(image);
    if (image->imageBuffer != nullptr) {
        GetVolumeLabel(image->imageBuffer, imageSize, label, std::size(label));
    } else {
        label[0] = '\0';
    }
    const DeviceParameterBlock* block = &image->parameters;
    const char* typeName = DisketteTypeName(block);
    const unsigned sides = Sides(block);
    const unsigned tracks = image->trackCount;
    const unsigned sectorsPerTrack = SectorsPerTrack(block);
    const unsigned kilobytes = static_cast<unsigned>(imageSize >> 10);
    switch (wording) {
        case InfoLineWording::kExtractor:
            ConsolePrint("Diskette: %-11s, Type: %-8s (%u sides, %u tracks / %u sec.,%u K)\r\n",
                         label, typeName, sides, tracks, sectorsPerTrack, kilobytes);
            break;
        case InfoLineWording::kSelfDisk:
            ConsolePrint("Diskette %2u: %-11s, Type: %-8s (%u sides, %u tracks / %u sec.,%u K)\r\n",
                         static_cast<unsigned>(image->disketteNumber), label, typeName, sides,
                         tracks, sectorsPerTrack, kilobytes);
            break;
        case InfoLineWording::kWriter:
            ConsolePrint("Diskette '%-11s', Type: %-8s (%u sides, %u tracks / %u sec.,%u K)\r\n",
                         label, typeName, sides, tracks, sectorsPerTrack, kilobytes);
            break;
    }
}

void ShowExtractorProgress(std::uint32_t track, std::uint32_t side, ProgressAction action,
                           ImageRecord* image) {
    if (action != ProgressAction::kTrackSideRead && action != ProgressAction::kTrackSideUnused) return;
    if (track != 0 || side + 1 != Sides(&image->parameters)) return;
    PrintDisketteInfoLine(image, InfoLineWording::kExtractor);
}
