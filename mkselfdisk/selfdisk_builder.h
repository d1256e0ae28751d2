// selfdisk_builder.h - assembling a self-creating diskette: a copy of the
// selfdisk program with the payload appended (selfdisk/payload.h), proven by
// reading it back the way the program will before it takes the output's name.
#pragma once
#include <cstdint>

struct SelfDiskRequest {
    const char* outputPath;                // the program to make
    const char* stubPath;                  // the selfdisk program to copy
    const char* description;               // code page 437, descriptionLength bytes, LF between lines
    std::uint32_t descriptionLength;       // at most kMaximumDescriptionLength
    const char* const* imagePaths;         // imageCount image files, in diskette order
    std::uint32_t imageCount;              // 1 to kMaximumDisketteCount
    bool compact;                          // store each image natively with a CRC-32, sparse
                                           //   where that loses nothing
};

// How one image went into the payload.
enum class ImageStorage : std::uint8_t {
    kAsItIs = 0,                           // the file's bytes, as far as the reader consumes them
    kNativeComplete = 1,                   // native, every track side, with a CRC-32
    kNativeSparse = 2,                     // native, the used track sides only, with a CRC-32
};

// Builds the self-creating diskette that request describes: the stub's bytes
// with its payload offset field set to the stub's length, the count, the
// description and the images (each as far as the image reader consumes it,
// or rebuilt in the native format with request->compact), then zero bytes
// up to 8192 bytes after the start of the last image, since the reader reads
// that much of every image's header. All of it goes into a new file beside
// the output; the file is read back as the self-creating diskette reads it
// (every image must give the same diskette and end where it was put), and
// only then is it made executable and renamed to the output's name, which
// is made to reach the disk before the output counts as made.
// Prints one line per image and a closing line through console print.
// Returns 1, or 0 after reporting the failure; nothing is left behind then
// (an existing output stays as it was). Refuses, before anything is
// written: a count or description out of range, a stub shorter than its
// payload offset field or one whose field holds neither 0 nor its own length
// (a stub that already carries a payload) or one without the marker of a
// selfdisk program (selfdisk/program_marker.h); with request->compact, a native
// image whose stored CRC does not match (its own CRC would hide the damage).
[[nodiscard]] int BuildSelfDisk(const SelfDiskRequest* request);
