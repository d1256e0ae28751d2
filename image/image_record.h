// image_record.h - one diskette image in memory, as the image reader fills it
// and the FAT volume reader and the write pipeline use it; and the progress
// routine through which the reader reports each track side.
#pragma once
#include <cstdint>

#include "console/text.h"
#include "image/device_parameter_block.h"

struct ImageRecord {
    std::uint32_t trackCount;              // cylinders: total sectors / sectors per track / sides
    std::uint8_t* imageBuffer;             // the diskette, sector n at n x bytes per sector; FreeImage frees
    std::uint64_t imageBufferSize;         // bytes the reader allocated for imageBuffer; 0 for a
                                           //   buffer from std::malloc, which FreeImage frees with std::free
    std::uint8_t* usedTrackMap;            // a byte per track side, 0xFF = holds data; FreeImage frees
    std::int32_t skipUnused;               // 1: the file holds only used track sides (reader);
                                           // the writers then set their own option
    DeviceParameterBlock parameters;       // as the image describes it; image bytes zero after reading
    char imageFileName[kPathSize];         // shown in the reader's messages; set by the caller
    int fileHandle;                        // open for reading; set by the caller
    bool pollKeys;                         // diskette programs: ESC between tracks cancels the read
    std::int64_t startOffset;              // file offset of the image data; after a read, just past it
    bool crcMismatch;                      // reader: the file's stored CRC-32 differs from the
                                           //   diskette read from it (warned); false without a CRC
    // Diskette programs only; the reader does not touch these.
    bool verify;                           // read each written track side back and compare
    bool format;                           // format each track side before writing it
    std::uint32_t retryCount;              // repeats of a failed track side operation
    char driveName[kPathSize];             // "A:"
    std::uint32_t disketteCount;           // diskettes in a self-creating diskette's payload
    std::uint32_t disketteNumber;          // 1-based number of the diskette in hand
    bool prompt;                           // ask for each diskette instead of waiting for it
    bool listOnly;                         // show the diskettes, write nothing
    bool skipDiskette;                     // the user skipped the diskette in hand
};

// Progress actions sent to the progress routine.
enum class ProgressAction : std::uint8_t {
    kDisketteWritten = 1,                  // the diskette has been written successfully
    kReset = 2,                            // reader: header recognized, before the buffers exist
    kWritingBegins = 3,
    kTrackSideRead = 5,                    // a track side was read from the file
    kTrackSideWritten = 6,
    kTrackSideVerified = 7,
    kTrackSideFormatted = 8,
    kTrackSideSaved = 9,                   // a track side was written into an image file
    kImageSaved = 10,                      // an image file has been made from a diskette
    kTrackSideUnused = 13,                 // reader: absent from the file, filled; writer: skipped
};

// Called with track and side counted from 0.
using ProgressRoutine = void (*)(std::uint32_t track, std::uint32_t side, ProgressAction action,
                                 ImageRecord* image);
