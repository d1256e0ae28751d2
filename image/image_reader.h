// image_reader.h - reads one diskette image file (any accepted format) into
// memory: every sector in diskette order, the used-track map, the CRC check.
#pragma once

#include "image/image_record.h"

inline constexpr std::uint8_t kFillerByte = 0xF6;   // what the file does not supply

// The largest diskette the reader takes into memory, in bytes. The largest
// real diskette holds 2.88 MB; a header may describe up to 65535 sectors of
// 64 KB each (4 GiB), which a small crafted file must not make the reader
// allocate.
inline constexpr std::uint64_t kLargestDisketteSize = 16u << 20;

// Reads the image that starts at image->startOffset of image->fileHandle.
// The caller sets fileHandle, imageFileName, startOffset and pollKeys; the
// reader sets parameters (image bytes zeroed), trackCount, skipUnused (1 for
// a sparse native image), imageBuffer, usedTrackMap and crcMismatch, and
// after success startOffset = the file position just past the image's last
// byte. Buffers the record still holds from an earlier image are freed first.
// progress (may be nullptr) receives action 2 once before the buffers exist,
// then 5 for each track side read and 13 for each one filled with 0xF6.
// With pollKeys set, ESC after a track cancels the read.
// A diskette larger than kLargestDisketteSize is refused before anything is
// allocated, as image data that can not be handled.
// Returns 1, or 0 after reporting the failure once; buffers allocated before a
// failure stay in the record. A stored CRC that differs is reported as a
// warning, crcMismatch is set and the read still succeeds. The caller frees
// with FreeImage.
[[nodiscard]] int ReadImage(ImageRecord* image, ProgressRoutine progress);

// Reports that the image named in the record holds data this system cannot
// handle.
void ReportImageNotHandled(const ImageRecord* image);

// Frees the image buffer and the used-track map and sets both to nullptr.
void FreeImage(ImageRecord* image);
