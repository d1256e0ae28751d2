// read_pipeline.cpp - a diskette from its drive into memory, then into an
// image file with the map of its unreadable sectors, or compared with one.
#include "diskette/read_pipeline.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/keys.h"
#include "console/message.h"
#include "console/system_error.h"
#include "diskette/device.h"
#include "diskette/write_pipeline.h"
#include "image/byte_order.h"
#include "image/image_format.h"
#include "image/image_reader.h"
#include "image/image_writer.h"
#include "image/output_file.h"
#include "image/used_track_map.h"

// A new file's name: the output's, a dot and six characters of its own.
static constexpr std::size_t kNewFilePathSize = kMapPathSize + 8;
// A map line: its numbers and a system text of kSystemTextBufferSize bytes.
static constexpr std::size_t kMapLineSize = kSystemTextBufferSize + 128;
// A comparison's notice: its first line and kNamedDifferenceCount lines.
static constexpr std::size_t kDifferenceTextSize = kMessageBufferSize;
static constexpr std::uint32_t kLargestTrackCount = 255;   // no diskette has more cylinders

// The diskette as it is being read.
struct ReadState {
    DeviceHandle* device;
    ImageRecord* image;                    // driveName and retryCount in; the diskette out
    const ReadRequest* request;
    DriveGeometry layout;                  // what is read: cylinders, heads (sides), sectors
                                           //   per track, bytes per sector
    std::uint64_t trackSideSize;           // bytes of one track side of layout
    std::uint64_t trackSideCount;          // cylinders x heads
    std::uint32_t* sectorCodes;            // per sector of layout, in diskette order: 0 read (or
                                           //   not read at all), else its last failure's code
    std::uint32_t unreadableCount;         // sectors with a code
    std::uint32_t lastCode;                // the code of the last failure
    bool bootFits;                         // the boot sector describes layout: the same sides,
                                           //   sectors and sector size, no more tracks
    DisketteGeometry boot;                 // its layout, when bootFits
};

std::size_t MakeBadSectorLine(char* line, std::size_t lineSize, std::uint32_t track,
                              std::uint32_t side, std::uint32_t sector, std::uint64_t offset,
                              std::uint32_t code) {
    char text[kSystemTextBufferSize];
    if (GetSystemErrorText(code, text, std::size(text)) == 0) {
        (void)FormatText(text, std::size(text), "system error %u", static_cast<unsigned>(code));
    }
    (void)CleanSystemText(text);
    if (!FormatText(line, lineSize, "track %u, side %u, sector %u, offset %" PRIu64 ": %s\n",
                    static_cast<unsigned>(track), static_cast<unsigned>(side),
                    static_cast<unsigned>(sector + 1), offset, text)) {
        // Cut: the line still ends where a line ends.
        if (lineSize >= 2) {
            line[lineSize - 2] = '\n';
            line[lineSize - 1] = '\0';
        }
    }
    return std::strlen(line);
}

// Fills *block and *geometry from the boot sector at bootSector (at least
// kBootFieldsSize bytes); true when it describes a layout that can be read:
// one or two sides, sectors of a multiple of 512 bytes, a track side that a
// transfer takes, no more than kLargestTrackCount tracks and no more bytes
// than the image reader takes.
static bool DescribesUsableLayout(const std::uint8_t* bootSector, DeviceParameterBlock* block,
                                  DisketteGeometry* geometry) {
    ParametersFromBootSector(bootSector, block);
    return GetDisketteGeometry(block, geometry) && geometry->sides <= 2 &&
           geometry->bytesPerSector % kSectorSize == 0 &&
           geometry->trackSideSize <= kTrackSideBufferSize &&
           geometry->trackCount <= kLargestTrackCount &&
           geometry->imageSize <= kLargestDisketteSize;
}

// True when the boot sector's layout is to be read rather than the one the
// drive reported: with the same sector size, more sectors per track or more
// tracks (the drive found only the first sectors or tracks of the
// diskette's) or fewer sides (the second side holds nothing of it).
static bool IsBootLayoutWanted(const DriveGeometry* drive, const DisketteGeometry* boot) {
    return boot->bytesPerSector == drive->bytesPerSector &&
           (boot->sectorsPerTrack > drive->sectorsPerTrack || boot->trackCount > drive->cylinders ||
            boot->sides < drive->heads);
}

static void ReportTakenOut(const ReadState* state, std::uint32_t code) {
    ReportMessage("The diskette in '%s' was taken out or changed while it was read.",
                  kMessageError, code, state->image->driveName);
}

// Sets layout on the drive and takes it, with a notice. Returns 1, or 0
// after reporting that the drive cannot read the diskette so.
static int TakeBootLayout(ReadState* state, const DriveGeometry* layout) {
    ReportMessage("The diskette in '%s' is read as its boot sector describes it: "
                  "%u tracks, %u side(s), %u sectors per track.",
                  kMessageNotice, 0, state->image->driveName,
                  static_cast<unsigned>(layout->cylinders), static_cast<unsigned>(layout->heads),
                  static_cast<unsigned>(layout->sectorsPerTrack));
    const std::uint32_t code = SetReadLayout(state->device, layout);
    if (code != 0) {
        ReportMessage("'%s' cannot read its diskette in that layout.", kMessageError, code,
                      state->image->driveName);
        return 0;
    }
    state->layout = *layout;
    return 1;
}

// Opens the drive for reading and learns the layout it reports. A drive
// that knows no format of its diskette (1785: a drive file of no standard
// size, say) is asked for its first sector, whose boot sector may describe
// one (*layoutSet then). Returns 1 with state->device and state->layout, or
// 0 after reporting.
static int OpenAndMeasure(ReadState* state, bool* layoutSet) {
    const char* driveName = state->image->driveName;
    std::uint32_t code = OpenDisketteForReading(driveName, &state->device);
    if (code != 0) {
        ReportMessage("'%s' could not be accessed.", kMessageError, code, driveName);
        return 0;
    }
    for (std::uint32_t attempt = 0; attempt <= state->image->retryCount; ++attempt) {
        code = QueryDriveGeometry(state->device, &state->layout);
        if (code == 0 || code == kErrorUnrecognizedMedia) break;
    }
    if (code == 0) return 1;
    if (code == kErrorUnrecognizedMedia) {
        std::uint8_t sector[kSectorSize];
        DeviceParameterBlock block{};
        DisketteGeometry boot{};
        if (ReadSector(state->device, sector, 0, 0, 0, 1, kSectorSize) == 0 &&
            DescribesUsableLayout(sector, &block, &boot) && boot.bytesPerSector == kSectorSize) {
            const DriveGeometry layout = {boot.sides, boot.trackCount, boot.sectorsPerTrack,
                                          boot.bytesPerSector};
            *layoutSet = true;
            return TakeBootLayout(state, &layout);
        }
    }
    ReportMessage("Device parameters of the disk in '%s' could not be determined.", kMessageError,
                  code, driveName);
    return 0;
}

// Allocates the image buffer (zeroed), the map and the sector codes for
// state->layout, freeing what an earlier layout had. Returns 1, or 0 after
// reporting.
static int AllocateLayout(ReadState* state) {
    ImageRecord* image = state->image;
    FreeImage(image);
    std::free(state->sectorCodes);
    state->sectorCodes = nullptr;
    state->unreadableCount = 0;
    const DriveGeometry* layout = &state->layout;
    state->trackSideSize =
        static_cast<std::uint64_t>(layout->sectorsPerTrack) * layout->bytesPerSector;
    state->trackSideCount = static_cast<std::uint64_t>(layout->cylinders) * layout->heads;
    const std::uint64_t sectorCount = state->trackSideCount * layout->sectorsPerTrack;
    const std::uint64_t byteCount = state->trackSideCount * state->trackSideSize;
    if (layout->heads == 0 || layout->heads > 2 || layout->cylinders == 0 ||
        layout->cylinders > kLargestTrackCount || state->trackSideSize == 0 ||
        state->trackSideSize > kTrackSideBufferSize || byteCount > kLargestDisketteSize) {
        ReportMessage("Device parameters of the disk in '%s' could not be determined.",
                      kMessageError, kErrorUnrecognizedMedia, image->driveName);
        return 0;
    }
    const std::size_t mapSize = static_cast<std::size_t>(state->trackSideCount);
    image->imageBuffer =
        static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(byteCount), 1));
    image->imageBufferSize = 0;
    image->usedTrackMap = static_cast<std::uint8_t*>(std::malloc(mapSize));
    state->sectorCodes = static_cast<std::uint32_t*>(
        std::calloc(static_cast<std::size_t>(sectorCount), sizeof(std::uint32_t)));
    if (image->imageBuffer == nullptr || image->usedTrackMap == nullptr ||
        state->sectorCodes == nullptr) {
        ReportMessage("Not enough memory.", kMessageError, 0);
        return 0;
    }
    std::memset(image->usedTrackMap, kTrackSideUsed, mapSize);
    return 1;
}

// Reads one track side into its place in the image buffer: one request,
// made again up to retryCount times; then each sector alone, as often. A
// sector that stays unreadable is filled with zeros and its code kept. A
// diskette taken out ends the read. Returns 1, or 0 after reporting.
static int ReadTrackSideInto(ReadState* state, std::uint32_t track, std::uint32_t side) {
    const DriveGeometry* layout = &state->layout;
    const std::uint64_t trackSide = static_cast<std::uint64_t>(track) * layout->heads + side;
    std::uint8_t* destination = state->image->imageBuffer + trackSide * state->trackSideSize;
    const std::uint32_t retryCount = state->image->retryCount;
    std::uint32_t code = 0;
    for (std::uint32_t attempt = 0; attempt <= retryCount; ++attempt) {
        code = ReadTrack(state->device, destination, side, track, layout->sectorsPerTrack,
                         layout->bytesPerSector);
        if (code == 0) return 1;
    }
    // A drive without its diskette fails every read alike: no sector of it
    // is bad, and reading on would only list them all.
    if (code == kErrorNotReady || CheckDisketteUnchanged(state->device) == kErrorNotReady) {
        ReportTakenOut(state, code);
        return 0;
    }
    for (std::uint32_t sector = 0; sector < layout->sectorsPerTrack; ++sector) {
        std::uint8_t* place =
            destination + static_cast<std::uint64_t>(sector) * layout->bytesPerSector;
        for (std::uint32_t attempt = 0; attempt <= retryCount; ++attempt) {
            code = ReadSector(state->device, place, side, track, sector, layout->sectorsPerTrack,
                              layout->bytesPerSector);
            if (code == 0 || code == kErrorNotReady) break;
        }
        if (code == kErrorNotReady) {
            ReportTakenOut(state, code);
            return 0;
        }
        if (code == 0) continue;
        std::memset(place, 0, layout->bytesPerSector);
        state->sectorCodes[trackSide * layout->sectorsPerTrack + sector] = code;
        ++state->unreadableCount;
        state->lastCode = code;
    }
    return 1;
}

// True when every sector of the track sides from firstSide to lastSide
// (inclusive) could be read.
static bool AreAllRead(const ReadState* state, std::uint64_t firstSide, std::uint64_t lastSide) {
    const std::uint64_t end = (lastSide + 1) * state->layout.sectorsPerTrack;
    for (std::uint64_t sector = firstSide * state->layout.sectorsPerTrack; sector < end; ++sector) {
        if (state->sectorCodes[sector] != 0) return false;
    }
    return true;
}

// A block that describes layout and nothing else, for a diskette whose boot
// sector does not: no FAT, no root directory, type unknown.
static void DescribeLayout(const DriveGeometry* layout, DeviceParameterBlock* block) {
    *block = DeviceParameterBlock{};
    WriteLe16(block->bytesPerSector, static_cast<std::uint16_t>(layout->bytesPerSector));
    block->sectorsPerCluster = 1;
    WriteLe16(block->totalSectors, static_cast<std::uint16_t>(layout->cylinders * layout->heads *
                                                              layout->sectorsPerTrack));
    WriteLe16(block->sectorsPerTrack, static_cast<std::uint16_t>(layout->sectorsPerTrack));
    WriteLe16(block->sides, static_cast<std::uint16_t>(layout->heads));
    WriteLe16(block->tracks, static_cast<std::uint16_t>(layout->cylinders));
}

// Reads track side 0 in the drive's layout and, where its boot sector wants
// another one, sets that and reads it again; then gives the record the
// layout's block (the boot sector's where it describes the layout).
// Returns 1, or 0 after reporting.
static int ReadFirstTrackSide(ReadState* state, bool layoutSet) {
    ImageRecord* image = state->image;
    for (;;) {
        if (AllocateLayout(state) == 0 || ReadTrackSideInto(state, 0, 0) == 0) return 0;
        DeviceParameterBlock block{};
        DisketteGeometry boot{};
        const bool usable = DescribesUsableLayout(image->imageBuffer, &block, &boot);
        if (!layoutSet && usable && IsBootLayoutWanted(&state->layout, &boot)) {
            const std::uint32_t reported = state->layout.cylinders;
            const std::uint32_t cylinders = boot.trackCount > reported ? boot.trackCount : reported;
            const DriveGeometry wanted = {boot.sides, cylinders, boot.sectorsPerTrack,
                                          boot.bytesPerSector};
            if (TakeBootLayout(state, &wanted) == 0) return 0;
            layoutSet = true;
            continue;
        }
        state->bootFits = usable && boot.sides == state->layout.heads &&
                          boot.sectorsPerTrack == state->layout.sectorsPerTrack &&
                          boot.bytesPerSector == state->layout.bytesPerSector &&
                          boot.trackCount <= state->layout.cylinders;
        if (state->bootFits) {
            state->boot = boot;
            image->parameters = block;
        } else {
            DescribeLayout(&state->layout, &image->parameters);
        }
        image->trackCount = state->layout.cylinders;
        return 1;
    }
}

// With request->usedOnly, the map of the track sides to read: the compared
// image's, or the diskette's own from its FAT, once its system area is in
// (up to track side lastSystemSide). A volume the map cannot judge (a boot
// sector that does not describe the layout, no FAT12 volume, a sector of
// the system area unreadable) keeps every track side marked.
static void JudgeUsedTrackSides(ReadState* state) {
    ImageRecord* image = state->image;
    const std::size_t mapSize = static_cast<std::size_t>(state->trackSideCount);
    const ImageRecord* compared = state->request->compared;
    if (compared != nullptr) {
        const std::uint64_t comparedSides =
            static_cast<std::uint64_t>(compared->trackCount) * state->layout.heads;
        for (std::uint64_t side = 0; side < state->trackSideCount; ++side) {
            image->usedTrackMap[side] = side < comparedSides ? compared->usedTrackMap[side]
                                                             : kTrackSideUnused;
        }
        return;
    }
    if (!state->bootFits || state->boot.clusterCount > kLargestFat12ClusterCount ||
        !AreAllRead(state, 0, state->boot.dataStartSector / state->boot.sectorsPerTrack)) {
        return;
    }
    std::memset(image->usedTrackMap, kTrackSideUnused, mapSize);
    InitUsedTrackMap(image->usedTrackMap, &state->boot);
    ScanFatIntoMap(image->usedTrackMap, &state->boot, image->imageBuffer);
    MarkWholeClustersInMap(image->usedTrackMap, &state->boot, image->imageBuffer);
}

// The track side after which the map is judged: the last of the system area
// (the compared image's map is there from the start: before track side 0).
static std::uint64_t LastSideBeforeJudging(const ReadState* state) {
    if (state->request->compared != nullptr || !state->bootFits) return 0;
    return state->boot.dataStartSector / state->boot.sectorsPerTrack;
}

// Reads the rest of the diskette after track side 0, with progress and the
// ESC poll after each track. Returns 1, or 0 after reporting.
static int ReadRemainingTrackSides(ReadState* state) {
    ImageRecord* image = state->image;
    const std::uint32_t heads = state->layout.heads;
    const std::uint64_t judgeAfter = LastSideBeforeJudging(state);
    std::uint32_t sidesOfTrackZero = 1;   // track side 0 has been read
    bool judged = !state->request->usedOnly;
    if (!judged && state->request->compared != nullptr) {
        JudgeUsedTrackSides(state);
        judged = true;
    }
    for (std::uint64_t trackSide = 0; trackSide < state->trackSideCount; ++trackSide) {
        const std::uint32_t track = static_cast<std::uint32_t>(trackSide / heads);
        const std::uint32_t side = static_cast<std::uint32_t>(trackSide % heads);
        if (!judged && trackSide > judgeAfter) {
            JudgeUsedTrackSides(state);
            judged = true;
        }
        if (trackSide == 0) {
            ShowProgress(track, side, ProgressAction::kTrackSideRead, image);
        } else if (image->usedTrackMap[trackSide] != kTrackSideUsed) {
            std::memset(image->imageBuffer + trackSide * state->trackSideSize, kFillerByte,
                        static_cast<std::size_t>(state->trackSideSize));
            ShowProgress(track, side, ProgressAction::kTrackSideUnused, image);
        } else {
            if (ReadTrackSideInto(state, track, side) == 0) return 0;
            if (track == 0) ++sidesOfTrackZero;
            ShowProgress(track, side, ProgressAction::kTrackSideRead, image);
        }
        if (side + 1 < heads) continue;
        // Nothing at all could be read of track 0: no boot sector, no FAT,
        // most likely no diskette of any known format.
        if (track == 0 &&
            state->unreadableCount == sidesOfTrackZero * state->layout.sectorsPerTrack) {
            ReportMessage("The diskette in '%s' cannot be read.", kMessageError, state->lastCode,
                          image->driveName);
            return 0;
        }
        if (PollKey() == kKeyEsc) {
            ReportMessage("Process canceled.", kMessageError, 0);
            return 0;
        }
    }
    return 1;
}

// True when the compared image has the layout read, but perhaps fewer tracks.
static bool HasLayoutOf(const ImageRecord* compared, const DriveGeometry* layout) {
    DisketteGeometry geometry{};
    return GetDisketteGeometry(&compared->parameters, &geometry) &&
           geometry.sides == layout->heads && geometry.sectorsPerTrack == layout->sectorsPerTrack &&
           geometry.bytesPerSector == layout->bytesPerSector &&
           compared->trackCount <= layout->cylinders;
}

// Everything between the open and the close. Returns 1, or 0 after
// reporting.
static int ReadOpenDiskette(ReadState* state, bool layoutSet, ReadSummary* summary) {
    ImageRecord* image = state->image;
    if (ReadFirstTrackSide(state, layoutSet) == 0) return 0;
    ShowProgress(0, 0, ProgressAction::kReset, image);
    const ReadRequest* request = state->request;
    if (request->compared != nullptr && !HasLayoutOf(request->compared, &state->layout)) {
        summary->layoutsDiffer = true;
        ReportMessage("The diskette in '%s' and '%s' differ in their layouts.", kMessageNotice, 0,
                      image->driveName, request->imagePath);
        return 1;
    }
    // Found out before the rest is read, which could take long.
    if (request->native &&
        (!state->bootFits || state->boot.trackCount != state->layout.cylinders)) {
        ReportMessage("The diskette in '%s' cannot be stored in the native format: its boot "
                      "sector does not describe its layout. Read it without /N for a plain image.",
                      kMessageError, 0, image->driveName);
        return 0;
    }
    return ReadRemainingTrackSides(state);
}

// Names the sector, and that it could not be read, on a line of its own
// appended to text.
static void NameDifference(char* text, std::size_t textSize, std::size_t* length,
                           const ReadState* state, std::uint64_t sectorIndex) {
    const std::uint32_t sectorsPerTrack = state->layout.sectorsPerTrack;
    const std::uint64_t trackSide = sectorIndex / sectorsPerTrack;
    char line[kMapLineSize];
    (void)FormatText(line, std::size(line), "\r\ntrack %u, side %u, sector %u%s",
                     static_cast<unsigned>(trackSide / state->layout.heads),
                     static_cast<unsigned>(trackSide % state->layout.heads),
                     static_cast<unsigned>(sectorIndex % sectorsPerTrack + 1),
                     state->sectorCodes[sectorIndex] != 0 ? " could not be read" : "");
    (void)AppendToField(text, textSize, length, line);
}

// Compares the diskette read with the image, over the image's tracks (with
// usedOnly, the track sides its map marks), and reports the outcome.
static void CompareWithImage(const ReadState* state, ReadSummary* summary) {
    const ImageRecord* compared = state->request->compared;
    const std::uint32_t sectorsPerTrack = state->layout.sectorsPerTrack;
    const std::uint32_t bytesPerSector = state->layout.bytesPerSector;
    const std::uint64_t sideCount =
        static_cast<std::uint64_t>(compared->trackCount) * state->layout.heads;
    char names[kDifferenceTextSize] = "";
    std::size_t namesLength = 0;
    for (std::uint64_t trackSide = 0; trackSide < sideCount; ++trackSide) {
        if (state->image->usedTrackMap[trackSide] != kTrackSideUsed) continue;
        for (std::uint32_t sector = 0; sector < sectorsPerTrack; ++sector) {
            const std::uint64_t index = trackSide * sectorsPerTrack + sector;
            const std::uint64_t offset = index * bytesPerSector;
            if (state->sectorCodes[index] == 0 &&
                std::memcmp(state->image->imageBuffer + offset, compared->imageBuffer + offset,
                            bytesPerSector) == 0) {
                continue;
            }
            if (summary->differingCount < kNamedDifferenceCount) {
                NameDifference(names, std::size(names), &namesLength, state, index);
            }
            ++summary->differingCount;
        }
    }
    const char* driveName = state->image->driveName;
    const char* imagePath = state->request->imagePath;
    if (summary->differingCount == 0) {
        ReportMessage("The diskette in '%s' and '%s' are identical.", kMessageNotice, 0, driveName,
                      imagePath);
        return;
    }
    ReportMessage("%u sector(s) of the diskette in '%s' differ from '%s'%s:%s", kMessageNotice, 0,
                  static_cast<unsigned>(summary->differingCount), driveName, imagePath,
                  summary->differingCount > kNamedDifferenceCount ? ", the first ones" : "",
                  names);
}

// Writes the map of the unreadable sectors into the open file fileHandle.
// Returns 0 or the code of the write that failed.
static std::uint32_t WriteBadSectorMap(const ReadState* state, int fileHandle) {
    const DriveGeometry* layout = &state->layout;
    const std::uint64_t sectorCount = state->trackSideCount * layout->sectorsPerTrack;
    std::uint64_t fileOffset = 0;
    for (std::uint64_t index = 0; index < sectorCount; ++index) {
        const std::uint32_t code = state->sectorCodes[index];
        if (code == 0) continue;
        const std::uint64_t trackSide = index / layout->sectorsPerTrack;
        char line[kMapLineSize];
        const std::size_t length = MakeBadSectorLine(
            line, std::size(line), static_cast<std::uint32_t>(trackSide / layout->heads),
            static_cast<std::uint32_t>(trackSide % layout->heads),
            static_cast<std::uint32_t>(index % layout->sectorsPerTrack),
            index * layout->bytesPerSector, code);
        const std::uint32_t written = WriteFileBytesAt(
            fileHandle, fileOffset, reinterpret_cast<const std::uint8_t*>(line), length);
        if (written != 0) return written;
        fileOffset += length;
    }
    return 0;
}

// The image's bytes into the open file fileHandle: natively, or every track
// side as it lies in memory. Returns 1, or 0 after reporting.
static int WriteImageBytes(ReadState* state, int fileHandle) {
    ImageRecord* image = state->image;
    const char* path = state->request->imagePath;
    if (state->request->native) {
        NativeResult native{};
        if (WriteNativeImage(image, state->request->usedOnly, fileHandle, 0, path, ShowProgress,
                             &native) == 0) {
            return 0;
        }
        if (native.storage != NativeStorage::kNone) return 1;
        ReportImageNotHandled(image);
        return 0;
    }
    for (std::uint64_t trackSide = 0; trackSide < state->trackSideCount; ++trackSide) {
        const std::uint64_t offset = trackSide * state->trackSideSize;
        const std::uint32_t code = WriteFileBytesAt(fileHandle, offset, image->imageBuffer + offset,
                                                    state->trackSideSize);
        if (code != 0) {
            ReportMessage("'%s' could not be written.", kMessageError, code, path);
            return 0;
        }
        ShowProgress(static_cast<std::uint32_t>(trackSide / state->layout.heads),
                     static_cast<std::uint32_t>(trackSide % state->layout.heads),
                     ProgressAction::kTrackSideSaved, image);
    }
    return 1;
}

// Stores the image and, with unreadable sectors, its map; each in a new file
// beside its name, committed once both are complete: the map first, so that
// no image is ever there without the map it needs. Returns 1, or 0 after
// reporting; nothing new is left behind then.
static int SaveImage(ReadState* state) {
    const ReadRequest* request = state->request;
    const char* path = request->imagePath;
    char mapPath[kMapPathSize];
    (void)FormatText(mapPath, std::size(mapPath), "%s%s", path, kBadSectorMapSuffix);
    ShowProgress(0, 0, ProgressAction::kWritingBegins, state->image);

    char imageTemporary[kNewFilePathSize];
    char mapTemporary[kNewFilePathSize] = "";
    int imageHandle = -1;
    int mapHandle = -1;
    std::uint32_t code = CreateFileBeside(path, imageTemporary, std::size(imageTemporary),
                                          &imageHandle);
    if (code != 0) {
        ReportMessage("'%s' could not be created.", kMessageError, code, path);
        return 0;
    }
    int result = WriteImageBytes(state, imageHandle);
    if (result == 1 && state->unreadableCount > 0) {
        code = CreateFileBeside(mapPath, mapTemporary, std::size(mapTemporary), &mapHandle);
        if (code == 0) code = WriteBadSectorMap(state, mapHandle);
        if (code == 0) {
            code = CommitFile(mapHandle, mapTemporary, mapPath, OutputFileKind::kData,
                              request->replace);
            mapHandle = -1;
        }
        if (code != 0) {
            ReportMessage("'%s' could not be created.", kMessageError, code, mapPath);
            result = 0;
        }
    }
    if (result == 1) {
        code = CommitFile(imageHandle, imageTemporary, path, OutputFileKind::kData,
                          request->replace);
        imageHandle = -1;
        if (code != 0) {
            ReportMessage("'%s' could not be created.", kMessageError, code, path);
            if (state->unreadableCount > 0) (void)RemoveFile(mapPath);
            result = 0;
        }
    }
    if (result == 0) {
        CloseOutputFile(imageHandle, imageTemporary);
        CloseOutputFile(mapHandle, mapTemporary);
        return 0;
    }
    // A map from an earlier read of a diskette into the image replaced
    // would name sectors that are no longer missing.
    if (state->unreadableCount == 0 && request->replace) {
        code = RemoveFile(mapPath);
        if (code != 0) {
            ReportMessage("'%s' could not be removed.", kMessageError, code, mapPath);
            return 0;
        }
    }
    code = SyncDirectoryEntry(path);
    if (code != 0) {
        ReportMessage("'%s' has its name, but its directory could not be written to the disk.",
                      kMessageError, code, path);
        return 0;
    }
    ShowProgress(0, 0, ProgressAction::kImageSaved, state->image);
    if (state->unreadableCount > 0) {
        ReportMessage("%u sector(s) could not be read; they are listed in '%s'.", kMessageNotice,
                      0, static_cast<unsigned>(state->unreadableCount), mapPath);
    }
    return 1;
}

int ReadDiskette(ImageRecord* image, const ReadRequest* request, ReadSummary* summary) {
    *summary = ReadSummary{};
    FreeImage(image);
    ReadState state{};
    state.image = image;
    state.request = request;
    bool layoutSet = false;
    int result = OpenAndMeasure(&state, &layoutSet);
    if (result == 1) {
        std::uint32_t code = SetVolumeLock(state.device, true);
        if (code != 0) {
            ReportMessage("'%s' could not be locked.", kMessageError, code, image->driveName);
            result = 0;
        } else {
            result = ReadOpenDiskette(&state, layoutSet, summary);
            code = SetVolumeLock(state.device, false);
            if (code != 0 && result == 1) {
                ReportMessage("'%s' could not be unlocked.", kMessageError, code, image->driveName);
                result = 0;
            }
        }
    }
    // The drive is let go before the image file is written.
    CloseDiskette(state.device);
    summary->unreadableCount = state.unreadableCount;
    if (result == 1 && !summary->layoutsDiffer) {
        if (request->compared != nullptr) {
            CompareWithImage(&state, summary);
        } else {
            result = SaveImage(&state);
        }
    }
    std::free(state.sectorCodes);
    return result;
}
