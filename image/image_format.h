// image_format.h - which image formats are accepted and how each is recognized,
// the device parameter block taken from a boot sector, and what is shown of a
// diskette: its type name, its volume label and the diskette info line.
#pragma once
#include <cstddef>
#include <cstdint>

#include "image/device_parameter_block.h"
#include "image/image_record.h"

// Bytes at the start of the image data that the recognizers look at.
inline constexpr std::size_t kImageHeaderSize = 8192;

// Native header: the signature, then the 36-byte device parameter block.
inline constexpr char kNativeSignature[] = "Velmoratrax";       // stored without its NUL
inline constexpr std::size_t kNativeSignatureLength = 11;
inline constexpr std::size_t kNativeHeaderLength = kNativeSignatureLength + sizeof(DeviceParameterBlock);
static_assert(kNativeHeaderLength == 47, "native header size");

// The image bytes of a native header's block (imageBytes[0] to [5]).
inline constexpr std::size_t kImageByteSparseFlag = 0;   // 0xFF: unused track sides not stored
inline constexpr std::size_t kImageByteCrcFlag = 1;      // bit 0: a CRC follows
inline constexpr std::size_t kImageByteStoredCrc = 2;    // u32
inline constexpr std::uint8_t kSparseFlagSet = 0xFF;
inline constexpr std::uint8_t kCrcFlagBit = 0x01;

// Bytes of a boot sector that the conversion to a block reads: the parameter
// fields at offsets 11 to 35.
inline constexpr std::size_t kBootFieldsSize = 36;

// Device types a block may carry.
inline constexpr std::uint8_t kDeviceType720K = 2;
inline constexpr std::uint8_t kDeviceType288M = 9;

enum class ImageFormat : std::uint8_t {
    kNone = 0,
    kNative = 1,
    kSavedskf = 2,
    kPlain = 3,
    kEightByteHeader = 4,
};

struct Recognition {
    ImageFormat format;                 // kNone: not accepted
    DeviceParameterBlock parameters;    // native: as stored, image bytes included
    std::uint32_t headerLength;         // bytes from the start of the image data to sector 0
    std::uint64_t dataLimit;            // bytes of diskette data the file holds; 0 = no limit
};

// The recognizers. Each looks only at the headerSize bytes of header (the
// reader passes kImageHeaderSize), accepts or not, and on acceptance fills
// result. They report nothing.
[[nodiscard]] bool RecognizeNative(const std::uint8_t* header, std::size_t headerSize,
                                   Recognition* result);
// SAVEDSKF when the first word is 0x58AA to 0x59AA, otherwise plain; a
// refused SAVEDSKF header is not tried as a plain one.
[[nodiscard]] bool RecognizeSavedskfOrPlain(const std::uint8_t* header, std::size_t headerSize,
                                            Recognition* result);
[[nodiscard]] bool RecognizeEightByteHeader(const std::uint8_t* header, std::size_t headerSize,
                                            Recognition* result);
// Tries native, SAVEDSKF-or-plain, eight-byte header; the first that accepts wins.
[[nodiscard]] bool RecognizeImage(const std::uint8_t* header, std::size_t headerSize,
                                  Recognition* result);

// Fills block from the boot-sector fields at offsets 11 to 35 (bootSector
// holds at least kBootFieldsSize bytes). Image bytes and device attributes
// become 0; tracks = total sectors / sectors per track / sides (0 when either
// divisor is 0); device type 2 for media 0xF9 with 9 sectors per track, 9 for
// 36 sectors per track, else 0.
void ParametersFromBootSector(const std::uint8_t* bootSector, DeviceParameterBlock* block);

// The kinds of diskette an image can describe. The values are those of the
// classic disk media types, with which a diskette of the kind is formatted.
enum class DisketteType : std::uint8_t {
    k525HighDensity = 1,                // 5.25" 1.2 MB
    k35HighDensity = 2,                 // 3.5" 1.44 MB
    k35ExtraDensity = 3,                // 3.5" 2.88 MB
    k35DoubleDensity = 5,               // 3.5" 720 KB
    k525DoubleDensity = 6,              // 5.25" 360 KB, and whatever else
};

// The one chain of tests that decides the kind of a diskette, both for the
// type name shown and for the layout it is formatted with; the first rule
// that matches wins: device type 9 with 36 or more sectors per track, media
// 0xF0, device type 2 or media 0xF9 with 9 sectors, media 0xF9 with 15.
[[nodiscard]] DisketteType ClassifyDiskette(std::uint8_t deviceType, std::uint8_t mediaDescriptor,
                                            std::uint32_t sectorsPerTrack);

// One of "3,5\" XD", "3,5\" HD", "3,5\" DD", "5,25\" HD", "5,25\" DD"; a
// static text.
[[nodiscard]] const char* DisketteTypeName(const DeviceParameterBlock* block);

inline constexpr std::size_t kVolumeLabelSize = 12;   // 11 characters and a NUL

// The volume label of the diskette in imageBuffer (imageSize bytes, sector 0
// first), with the layout taken from its boot sector: the first 11 bytes of
// the first root entry whose attribute has bit 0x08, else the boot sector's
// label field; trailing bytes below 0x20 become NUL (trailing spaces stay).
// Entries or fields lying outside the buffer count as absent, so inconsistent
// layout fields give at worst an empty label. All 12 bytes of label are
// written (NUL after the text). label holds labelSize bytes,
// at least kVolumeLabelSize; a smaller field receives an empty text.
void GetVolumeLabel(const std::uint8_t* imageBuffer, std::uint64_t imageSize, char* label,
                    std::size_t labelSize);

// Bytes of the whole image buffer of an image the reader has read: its track
// count times the block's track sides (0 when the block gives no usable
// geometry).
[[nodiscard]] std::uint64_t ImageBufferSize(const ImageRecord* image);

// The three wordings of the diskette info line.
enum class InfoLineWording : std::uint8_t {
    kExtractor = 0,    // "Diskette: LABEL      , Type: ..."
    kSelfDisk = 1,     // "Diskette  n: LABEL      , Type: ..." with image->disketteNumber
    kWriter = 2,       // "Diskette 'LABEL      ', Type: ..."
};

// Prints the info line of the image in image (label, type name, sides, track
// count, sectors per track, capacity in KB) through console print.
void PrintDisketteInfoLine(const ImageRecord* image, InfoLineWording wording);

// The image extractor's progress routine: prints the info line at the event
// for the last side of track 0 (read or filled) and ignores every other event.
void ShowExtractorProgress(std::uint32_t track, std::uint32_t side, ProgressAction action,
                           ImageRecord* image);
