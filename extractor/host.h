// host.h - what the image extractor asks of the host system: the current
// directory, and the files and directories it extracts. File operations
// return 0 or a system error code and report nothing.
#pragma once
#include <cstddef>
#include <cstdint>

// Writes the current working directory into buffer; false when it cannot be
// found or does not fit.
[[nodiscard]] bool GetWorkingDirectory(char* buffer, std::size_t bufferSize);

// True when path names an existing directory (directory set) or an existing
// thing that is not a directory (directory clear). Follows links.
[[nodiscard]] bool IsExistingPath(const char* path, bool directory);

// Makes path a directory: 0 when it was created or is one already (a link in
// its place does not count), else the error code.
[[nodiscard]] std::uint32_t CreateHostDirectory(const char* path);

// Creates or replaces a regular file for writing, never through a link and
// never over a file whose write permissions are all cleared (read-only) or
// over anything but a regular file; its old contents are dropped. Gives the
// handle in *fileHandle, or kErrorOpenFailed.
[[nodiscard]] std::uint32_t CreateHostFile(const char* path, int* fileHandle);

// Creates a regular file for writing where nothing stands yet (not even a
// link); gives the handle in *fileHandle. kErrorOpenFailed when something is
// in the way or the file cannot be made there (a directory missing, no
// permission): the caller then takes the way of CreateHostFile.
[[nodiscard]] std::uint32_t CreateNewHostFile(const char* path, int* fileHandle);

// Writes byteCount bytes; kErrorWriteFault when that fails or falls short.
[[nodiscard]] std::uint32_t WriteHostFile(int fileHandle, const std::uint8_t* bytes,
                                          std::size_t byteCount);

// Sets the last-modification time (seconds since 1970-01-01 00:00 UTC; the
// access time stays) unless setTime is false, clears the write permissions
// when readOnly is set, and closes the file. The file is closed in any case.
[[nodiscard]] std::uint32_t FinishHostFile(int fileHandle, bool setTime,
                                           std::int64_t modificationTime, bool readOnly);
