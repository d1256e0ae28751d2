// image_writer.h - stores a diskette from memory as an image file in the
// native format: the header with the device parameter block and a CRC-32
// over the diskette, then every track side, or only the used ones (sparse),
// as the image reader reads them back.
#pragma once
#include <cstdint>

#include "image/image_record.h"

// How a diskette went into a native image.
enum class NativeStorage : std::uint8_t {
    kNone = 0,                             // the header cannot describe it: nothing was written
    kComplete = 1,                         // every track side, with a CRC-32
    kSparse = 2,                           // the used track sides only, with a CRC-32
};

struct NativeResult {
    NativeStorage storage;
    std::uint32_t diskCrc;                 // CRC-32 of the diskette as the reader rebuilds it
    std::uint64_t byteCount;               // bytes written, header included
};

// Writes the diskette in image (parameters, trackCount and the whole
// imageBuffer) natively into the open file fileHandle from byte offset on.
// Sparse when sparseAllowed and the track sides that a reader of the file
// takes as used (the system area and the first sector of each allocated
// cluster, from the FAT in track side 0) hold every allocated cluster
// whole, so that a reader rebuilds every cluster; complete otherwise. The
// track sides a sparse file leaves out are set to 0xF6 in imageBuffer, as a
// reader rebuilds them, before the CRC-32 is taken over the diskette.
// progress (may be nullptr) receives kTrackSideSaved after each track side
// stored and kTrackSideUnused for each one left out. usedTrackMap is not
// looked at. outputName names the file in messages.
// Returns 1 with *result (storage kNone, nothing written, when the block is
// of no layout the header can describe), or 0 after reporting a write that
// failed or a map it could not allocate.
[[nodiscard]] int WriteNativeImage(ImageRecord* image, bool sparseAllowed, int fileHandle,
                                   std::uint64_t offset, const char* outputName,
                                   ProgressRoutine progress, NativeResult* result);
