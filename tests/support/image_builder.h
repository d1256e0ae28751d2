// image_builder.h - builds FAT12 diskette images byte by byte for the tests,
// and wraps them in the four container formats the image reader accepts.
//
// A FatImage is the raw diskette (sector 0 first) together with the layout it
// was built with. Start from StandardLayout() + FormatImage(), or from bytes
// made elsewhere (mkfs.fat) with ParseFatImage(); change single bytes freely
// through image.bytes. Offsets and sizes are checked with vector::at(), so a
// test that asks for something outside the image fails loudly instead of
// writing past it.
//
// Typical use:
//   FatImage image = FormatImage(StandardLayout(DisketteSize::k1440));
//   DirectoryEntry readme = FileEntry("README", "TXT");
//   AddFile(&image, kRootDirectory, readme, TextBytes("hello\r\n"));
//   std::vector<std::uint8_t> file = WrapNative(image, NativeOptions{true, true});
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Layouts

// The boot-sector parameters of a diskette (the fields at boot-sector
// offsets 11 to 27; hidden sectors and the 32-bit count are written as 0).
struct DisketteLayout {
    std::uint16_t bytesPerSector;
    std::uint8_t sectorsPerCluster;
    std::uint16_t reservedSectors;
    std::uint8_t fatCount;
    std::uint16_t rootEntries;
    std::uint16_t totalSectors;
    std::uint8_t mediaDescriptor;
    std::uint16_t sectorsPerFat;
    std::uint16_t sectorsPerTrack;
    std::uint16_t sides;
};

enum class DisketteSize { k160, k180, k320, k360, k720, k1200, k1440, k2880 };

// The parameters DOS formats each standard diskette with:
//   size   bytes/sec sec/clu res FATs root total media sec/FAT sec/trk sides
//   160 K     512       1     1   2    64   320  0xFE     1       8      1
//   180 K     512       1     1   2    64   360  0xFC     2       9      1
//   320 K     512       2     1   2   112   640  0xFF     1       8      2
//   360 K     512       2     1   2   112   720  0xFD     2       9      2
//   720 K     512       2     1   2   112  1440  0xF9     3       9      2
//   1.2 M     512       1     1   2   224  2400  0xF9     7      15      2
//   1.44 M    512       1     1   2   224  2880  0xF0     9      18      2
//   2.88 M    512       2     1   2   240  5760  0xF0     9      36      2
DisketteLayout StandardLayout(DisketteSize size);

// Sectors of the root directory: root entries x 32 / bytes per sector,
// rounded up (exact for every standard layout).
std::uint32_t RootDirectorySectors(const DisketteLayout& layout);
// First sector of cluster 2: reserved + FATs + root directory.
std::uint32_t DataStartSector(const DisketteLayout& layout);
// Clusters of the data area: (total - data start) / sectors per cluster.
std::uint32_t ClusterCount(const DisketteLayout& layout);
// Cylinders: total / sectors per track / sides.
std::uint32_t TrackCount(const DisketteLayout& layout);
// Bytes of one track side: sectors per track x bytes per sector.
std::size_t TrackSideSize(const DisketteLayout& layout);

// ---------------------------------------------------------------------------
// The image

struct FatImage {
    DisketteLayout layout;
    std::vector<std::uint8_t> bytes;   // total sectors x bytes per sector, sector 0 first
};

// Boot-sector offsets the builder writes.
inline constexpr std::size_t kBootJump = 0;             // EB 3C 90
inline constexpr std::size_t kBootOemName = 3;          // 8 bytes
inline constexpr std::size_t kBootSignature = 38;       // 0x29: serial, label, type follow
inline constexpr std::size_t kBootSerial = 39;          // u32
inline constexpr std::size_t kBootLabel = 43;           // 11 bytes, space padded
inline constexpr std::size_t kBootFileSystemType = 54;  // "FAT12   "

// A freshly formatted diskette: boot sector (jump EB 3C 90, the layout's
// parameters, extended signature 0x29, serial 0x12345678, the 11 bytes of
// bootLabel, "FAT12   ", 55 AA at 510 when a sector has room), every FAT copy
// starting with media descriptor, FF, FF and otherwise 0, an all-zero root
// directory, and every data sector filled with dataFill (0xF6, as a format
// leaves it). bootLabel shorter than 11 bytes is padded with spaces.
FatImage FormatImage(const DisketteLayout& layout, const std::string& bootLabel = "NO NAME",
                     std::uint8_t dataFill = 0xF6);

// Takes a raw diskette made elsewhere (mkfs.fat) and reads its layout from
// the boot sector; the bytes are kept as they are.
FatImage ParseFatImage(std::vector<std::uint8_t> bytes);

// Byte offset of a sector, of a cluster's first sector and of the root
// directory within image.bytes.
std::size_t SectorOffset(const FatImage& image, std::uint32_t sector);
std::size_t ClusterOffset(const FatImage& image, std::uint16_t cluster);
std::size_t RootDirectoryOffset(const FatImage& image);

// Little-endian byte helpers on any byte vector (checked with at()).
void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
std::uint16_t GetLe16(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::uint32_t GetLe32(const std::vector<std::uint8_t>& bytes, std::size_t offset);
std::vector<std::uint8_t> TextBytes(const std::string& text);   // the characters, no NUL

// ---------------------------------------------------------------------------
// FAT entries (12 bits; entry n of a FAT at byte n x 3 / 2, the standard packing)

inline constexpr std::uint16_t kFatFree = 0x000;
inline constexpr std::uint16_t kFatBad = 0xFF7;
inline constexpr std::uint16_t kFatEnd = 0xFFF;

// Sets the entry of cluster in every FAT copy, or in copy number copy (0-based).
void SetFatEntry(FatImage* image, std::uint16_t cluster, std::uint16_t value);
void SetFatEntryInCopy(FatImage* image, unsigned copy, std::uint16_t cluster,
                       std::uint16_t value);
// The entry of cluster in the first FAT.
std::uint16_t GetFatEntry(const FatImage& image, std::uint16_t cluster);

// Links the clusters in the order given (each entry points to the next, the
// last gets 0xFFF). A loop is made by linking the last back: LinkChain({5, 6})
// and then SetFatEntry(&image, 6, 5).
void LinkChain(FatImage* image, const std::vector<std::uint16_t>& clusters);

// Takes the first clusterCount free clusters from cluster 2 on, links them and
// returns them. Throws std::runtime_error when the diskette has too few.
std::vector<std::uint16_t> AllocateChain(FatImage* image, std::size_t clusterCount);

// Writes data across the clusters of chain, cluster after cluster; the rest of
// the last cluster is left as it was.
void WriteChainData(FatImage* image, const std::vector<std::uint16_t>& chain,
                    const std::vector<std::uint8_t>& data);

// The clusters of the chain that starts at firstCluster, following the first
// FAT; stops at an end mark, a free or bad entry, or after ClusterCount steps.
std::vector<std::uint16_t> FollowChain(const FatImage& image, std::uint16_t firstCluster);

// ---------------------------------------------------------------------------
// Directory entries (32 bytes)

inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::uint16_t kRootDirectory = 0;   // "first cluster" naming the root

inline constexpr std::uint8_t kAttrReadOnly = 0x01;
inline constexpr std::uint8_t kAttrHidden = 0x02;
inline constexpr std::uint8_t kAttrSystem = 0x04;
inline constexpr std::uint8_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttrDirectory = 0x10;
inline constexpr std::uint8_t kAttrArchive = 0x20;
inline constexpr std::uint8_t kAttrLongName = 0x0F;

// One entry as it is stored. name and extension are the stored bytes, padded
// with spaces to 8 and 3 (longer texts are cut): a deleted entry has name[0]
// 0xE5, an entry whose name begins with 0xE5 stores 0x05 there.
struct DirectoryEntry {
    std::string name;
    std::string extension;
    std::uint8_t attributes = kAttrArchive;
    std::uint16_t time = 0;                // DosTime()
    std::uint16_t date = 0;                // DosDate()
    std::uint16_t firstCluster = 0;
    std::uint32_t size = 0;                // bytes
};
using RawEntry = std::array<std::uint8_t, kEntrySize>;

// DOS date: bits 15-9 years since 1980, 8-5 month 1-12, 4-0 day 1-31.
// DOS time: bits 15-11 hours, 10-5 minutes, 4-0 seconds / 2.
std::uint16_t DosDate(unsigned year, unsigned month, unsigned day);
std::uint16_t DosTime(unsigned hour, unsigned minute, unsigned second);

DirectoryEntry FileEntry(const std::string& name, const std::string& extension,
                         std::uint8_t attributes = kAttrArchive);
// A volume-label entry: the 11 label bytes split over name and extension,
// attribute 0x08.
DirectoryEntry VolumeLabelEntry(const std::string& label);
RawEntry EncodeEntry(const DirectoryEntry& entry);

// A long-name entry: sequence byte (0x40 marks the last, i.e. first stored),
// up to 13 characters of text (ASCII, stored as UTF-16; after the text one
// 0x0000 and then 0xFFFF padding), attribute 0x0F, the checksum of the short
// name it belongs to.
RawEntry LongNameEntry(std::uint8_t sequence, const std::string& text, std::uint8_t checksum);
// The long-name checksum of an 11-byte short name (rotate right, add).
std::uint8_t ShortNameChecksum(const RawEntry& shortEntry);

// Offset within image.bytes of slot index of a directory: the root directory
// (directoryCluster 0) or the subdirectory starting at directoryCluster,
// whose chain is followed through the first FAT. Throws std::out_of_range
// past the directory's end.
std::size_t DirectorySlotOffset(const FatImage& image, std::uint16_t directoryCluster,
                                std::size_t index);
void PutEntry(FatImage* image, std::uint16_t directoryCluster, std::size_t index,
              const DirectoryEntry& entry);
void PutRawEntry(FatImage* image, std::uint16_t directoryCluster, std::size_t index,
                 const RawEntry& entry);
// Puts the entry into the first slot whose first byte is 0x00; returns its index.
std::size_t AppendEntry(FatImage* image, std::uint16_t directoryCluster, const RawEntry& entry);
std::size_t AppendEntry(FatImage* image, std::uint16_t directoryCluster,
                        const DirectoryEntry& entry);

// Adds a file: allocates enough clusters (none for empty content), writes the
// content, sets entry.firstCluster and entry.size and appends the entry.
// Returns the first cluster (0 for an empty file).
std::uint16_t AddFile(FatImage* image, std::uint16_t directoryCluster, DirectoryEntry entry,
                      const std::vector<std::uint8_t>& content);

// Adds a subdirectory of clusterCount clusters, all zeroed, whose slots 0 and
// 1 are "." (itself) and ".." (the parent's first cluster, 0 for the root);
// the entry gets attribute 0x10 added. Returns its first cluster.
std::uint16_t AddDirectory(FatImage* image, std::uint16_t parentCluster, DirectoryEntry entry,
                           std::size_t clusterCount = 1);

// ---------------------------------------------------------------------------
// Reference computations, written independently of the code under test

// CRC-32, reflected, polynomial 0xEDB88320, computed bit by bit.
std::uint32_t ReferenceCrc32(const std::uint8_t* bytes, std::size_t length);

// The used-track rule, one flag per track side (track x sides + side): the
// track sides up to and including (reserved + FATs + root) / sectors per
// track, and the track side of the first sector of every cluster whose entry
// in the first FAT is neither 0 nor 0xFF7 (for an odd cluster count the entry
// after the last cluster is examined as well). With wholeClusters, every track
// side holding any sector of such a cluster.
std::vector<bool> ReferenceUsedTrackSides(const FatImage& image, bool wholeClusters = false);

// The diskette as a reader rebuilds it when only the track sides flagged in
// storedSides come from the file: the others are all 0xF6.
std::vector<std::uint8_t> RebuiltImage(const FatImage& image, const std::vector<bool>& storedSides);

// ---------------------------------------------------------------------------
// Containers

inline constexpr char kNativeSignatureText[] = "Velmoratrax";   // 11 bytes, no NUL stored
inline constexpr std::size_t kNativeHeaderBytes = 47;

struct NativeOptions {
    bool sparse = false;                    // sparse flag 0xFF; store only the used track sides
    bool withCrc = false;                   // CRC flag bit 0 and the CRC of the rebuilt image
    std::optional<std::uint32_t> storedCrc; // written instead of the computed CRC
    std::uint8_t crcFlagByte = 0;           // written when withCrc is false (other bits ignored)
    int deviceType = -1;                    // -1: 2 for media 0xF9 with 9 sec/track, 9 for
                                            // 36 sec/track, else 0
    std::uint16_t deviceAttributes = 0;
    std::vector<bool> storedTrackSides;     // sparse: overrides ReferenceUsedTrackSides()
};

// Shorthand for the common cases (aggregate initialisation with fewer fields
// than the record has trips -Wmissing-field-initializers).
NativeOptions NativeWith(bool sparse, bool withCrc = false);

// Native image: "Velmoratrax", the 36-byte block (boot-sector bytes 11 to 35,
// sparse flag, CRC flag, CRC, tracks, device type, device attributes), then
// every track side, or with sparse only the flagged ones, in track side order.
std::vector<std::uint8_t> WrapNative(const FatImage& image, const NativeOptions& options = {});

struct SavedskfOptions {
    std::uint16_t formatWord = 0x59AA;      // file bytes AA 59
    std::uint16_t dataOffsetField = 512;    // 0 places the data at 512 all the same
    std::optional<std::uint16_t> storedSectors;  // 512-byte sectors stored; default: all
    std::optional<std::uint16_t> sidesField;     // default: the layout's sides
};
SavedskfOptions SavedskfWith(std::uint16_t formatWord, std::uint16_t dataOffsetField,
                             std::optional<std::uint16_t> storedSectors = {});

// SAVEDSKF image: a header of the data offset's length (format word at 0,
// sides at 26, stored sectors at 34, data offset at 38, other bytes 0), then
// the first stored sectors x 512 bytes of the diskette.
std::vector<std::uint8_t> WrapSavedskf(const FatImage& image, const SavedskfOptions& options = {});

// Plain image: the diskette's bytes as they are.
std::vector<std::uint8_t> WrapPlain(const FatImage& image);

// Eight-byte-header image: byte 0 = 0, byte 1 = sides, u16 at 2 = tracks,
// u16 at 4 = sectors per track, u16 at 6 = bytes per sector (a reader looks
// only at bytes 1 and 6), then the diskette. The two read fields can be
// overridden to build refused headers.
std::vector<std::uint8_t> WrapEightByteHeader(const FatImage& image,
                                              std::optional<std::uint8_t> sidesByte = {},
                                              std::optional<std::uint16_t> sectorSizeWord = {});
