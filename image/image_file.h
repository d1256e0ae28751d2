// image_file.h - opening an image file and the descriptor I/O the image
// reader needs; implemented in image_file_<platform>.cpp. The reading
// operations return 0 or a system error code and report nothing: the reader
// reports, with the file name.
#pragma once
#include <cstdint>

// A zero-filled buffer of byteCount bytes for a whole diskette, set up so
// that reading the image into it costs as few page faults as the system
// allows; nullptr when it cannot be had. FreeImageBuffer takes it back, with
// the same byteCount.
[[nodiscard]] std::uint8_t* AllocateImageBuffer(std::uint64_t byteCount);
void FreeImageBuffer(std::uint8_t* buffer, std::uint64_t byteCount);   // accepts nullptr

// Opens an image file for reading, byte for byte; -1 when it cannot be
// opened or is neither a regular file nor a block device (a directory, a
// FIFO, a terminal). Never waits: a FIFO without a writer is refused at once.
[[nodiscard]] int OpenImageFile(const char* path);
void CloseImageFile(int fileHandle);   // accepts -1

// Reads up to byteCount bytes into buffer. A read that delivers fewer bytes
// (a pipe, a signal) is continued until byteCount bytes have arrived or the
// file ends; *readCount gets the bytes read, also when an error ends it.
[[nodiscard]] std::uint32_t ReadFileBytes(int fileHandle, std::uint8_t* buffer,
                                          std::uint64_t byteCount, std::uint64_t* readCount);

enum class SeekOrigin : std::uint8_t {
    kStart = 0,        // offset counts from the start of the file
    kCurrent = 1,      // offset counts from the current position, may be negative
};

// Moves the file position; *position gets the new position in bytes from the
// start of the file.
[[nodiscard]] std::uint32_t SeekFile(int fileHandle, std::int64_t offset, SeekOrigin origin,
                                     std::int64_t* position);
