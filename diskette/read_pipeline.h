// read_pipeline.h - reading the diskette in a drive into memory, track side
// by track side and, past a track side that cannot be read, sector by
// sector; then storing it as an image file (plain or native) with a map of
// the sectors that stayed unreadable, or comparing it with an image file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/text.h"
#include "image/image_record.h"

// The map of unreadable sectors is the image file's name with this added.
inline constexpr char kBadSectorMapSuffix[] = ".bad";
// Bytes of a map's name field: an image name of kPathSize - 1 characters
// and the suffix, NUL included.
inline constexpr std::size_t kMapPathSize = kPathSize + sizeof(kBadSectorMapSuffix) - 1;

// The most differing sectors a comparison names one by one.
inline constexpr std::uint32_t kNamedDifferenceCount = 10;

struct ReadRequest {
    const char* imagePath;                 // the image file to make, or the one compared with
    bool usedOnly;                         // only the track sides the used-track map marks
    bool native;                           // store in the native format, with a CRC-32
    bool replace;                          // an existing image (and its map) may be replaced
    const ImageRecord* compared;           // the image to compare with, as ReadImage left it
                                           //   (its map completed); nullptr: store the diskette
};

struct ReadSummary {
    std::uint32_t unreadableCount;         // sectors that stayed unreadable after every retry
    std::uint32_t differingCount;          // comparing: sectors that differ, unreadable ones too
    bool layoutsDiffer;                    // comparing: the diskette's layout is not the image's
};

// Reads the diskette in image->driveName. The drive is opened for reading
// only and its geometry asked (a drive that knows no format is read in the
// layout of its first sector, a boot sector, where that layout fits it).
// Track 0 is read first; where its boot sector describes more sectors per
// track, more tracks or fewer sides than the drive reported (and the same
// sector size), that layout is set on the drive (SetReadLayout) and the
// diskette is read in it, with a notice. Then every track side is read with
// one request (with request->usedOnly only those the used-track map marks,
// once the system area is in, the others filled with 0xF6; a volume the map
// cannot judge is read whole); a request that fails is repeated up to
// image->retryCount times, then the track side is read sector by sector
// with as many repeats, and the sectors that stay unreadable are filled
// with zeros. ESC after a track cancels. The bar shows each track side read,
// the info line after track 0; then each track side saved.
// Storing: the image goes into a new file beside request->imagePath (mode
// 0666 & ~umask) and, when sectors stayed unreadable, their map (one line
// each, MakeBadSectorLine) into one beside "<image>.bad"; both take their
// names only once complete, and replace existing files only with
// request->replace, which also removes a map left from before when no
// sector stayed unreadable. A summary notice names the map. Native storage
// keeps every track side, or with request->usedOnly only the used ones where
// that loses nothing (WriteNativeImage); a diskette whose boot sector does
// not describe the layout read cannot be stored natively: reported, before
// the rest is read.
// Comparing (request->compared): nothing is written; the diskette is read in
// its layout, which must be the image's (the same sectors per track, sector
// size and sides, at least as many tracks), with request->usedOnly only the
// track sides the image's map marks; the differing sectors are counted, the
// first kNamedDifferenceCount named in one notice, or the two are reported
// identical.
// Fills image (parameters, trackCount, buffers) and *summary. Returns 1,
// also with sectors unreadable or different (see *summary), or 0 after
// reporting a failure or cancellation; nothing is left behind then. The
// caller frees the image with FreeImage.
[[nodiscard]] int ReadDiskette(ImageRecord* image, const ReadRequest* request,
                               ReadSummary* summary);

// Writes into line (lineSize bytes, NUL included) the map's line for an
// unreadable sector, with its own LF: "track 12, side 1, sector 7, offset
// 230912: <the system's text for code>", track and side counted from 0,
// sector from 1 as the diskette numbers it, offset the sector's byte offset
// in the diskette (the plain image's offset of it). Returns the length.
[[nodiscard]] std::size_t MakeBadSectorLine(char* line, std::size_t lineSize,
                                            std::uint32_t track, std::uint32_t side,
                                            std::uint32_t sector, std::uint64_t offset,
                                            std::uint32_t code);
