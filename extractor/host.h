// host.h - what the image extractor asks of the host system: the current
// directory, and the directories and files it extracts into. A destination is
// reached from an open handle of the extraction directory, one directory
// below the other, and each file is created relative to the open handle of
// its own directory: whatever happens to the tree meanwhile (a directory
// renamed, or swapped for a link), no write can be led outside it.
// File and directory operations return 0 or a system error code and report
// nothing.
#pragma once
#include <cstddef>
#include <cstdint>

// Writes the current working directory into buffer; false when it cannot be
// found or does not fit.
[[nodiscard]] bool GetWorkingDirectory(char* buffer, std::size_t bufferSize);

// An open directory: a handle from OpenHostDirectory or OpenHostSubdirectory,
// closed with CloseHostDirectory.
inline constexpr int kNoHostDirectory = -1;

// Opens the directory path as the start of a walk. A link is followed: the
// user named it. *directory gets the handle, or kNoHostDirectory.
[[nodiscard]] std::uint32_t OpenHostDirectory(const char* path, int* directory);

// Opens the directory name (one component, no path separator) inside parent, never
// through a link; with create set, makes it first when nothing stands there.
// kErrorAlreadyExists when something else stands there (a file, a link);
// kErrorPathNotFound when nothing does and create is clear. *directory gets
// the handle, or kNoHostDirectory; *made tells that this call made the
// directory. With create, parentMade (parent was made in this run, so
// nothing is expected in it) tries making before opening, which spares the
// open that would fail; the result is the same either way.
[[nodiscard]] std::uint32_t OpenHostSubdirectory(int parent, const char* name, bool create,
                                                 bool parentMade, int* directory, bool* made);

void CloseHostDirectory(int directory);   // accepts kNoHostDirectory

// True when name inside directory is an existing directory (wantDirectory
// set) or an existing thing that is not a directory (wantDirectory clear).
// Follows a link standing at name.
[[nodiscard]] bool IsExistingEntry(int directory, const char* name, bool wantDirectory);

// Creates or replaces the regular file name inside directory for writing,
// never through a link and never over a file whose write permissions are all
// cleared (read-only) or over anything but a regular file; its old contents
// are dropped. Gives the handle in *fileHandle, or kErrorOpenFailed.
[[nodiscard]] std::uint32_t CreateHostFile(int directory, const char* name, int* fileHandle);

// Creates the regular file name inside directory for writing where nothing
// stands yet (not even a link); gives the handle in *fileHandle. With
// readOnly, on POSIX the file is made without write permissions from the
// start (the handle still writes), as FinishHostFile would leave it; the
// caller then tells FinishHostFile so.
// kErrorOpenFailed when something is in the way or the file cannot be made
// there (no permission): the caller then takes the way of CreateHostFile.
[[nodiscard]] std::uint32_t CreateNewHostFile(int directory, const char* name, bool readOnly,
                                              int* fileHandle);

// Writes byteCount bytes; kErrorWriteFault when that fails or falls short.
[[nodiscard]] std::uint32_t WriteHostFile(int fileHandle, const std::uint8_t* bytes,
                                          std::size_t byteCount);

// Gives the file its time and attributes from its directory entry and closes
// it (in any case). The time is the entry's DOS date and time words read as
// UTC and made one hour earlier; the access time stays. On POSIX that is the
// last-modification time (none for a date or time that names no real moment,
// ModificationTimeFromDos), and the read-only bit of attributes clears the
// write permissions. On Windows the creation and last-write times are set
// (DosDateTimeToFileTime, SetFileTime) and the read-only, hidden, system and
// archive bits become the file's attributes (SetFileAttributesA).
// madeReadOnly: the file was made by CreateNewHostFile with readOnly, so on
// POSIX its permissions stand already and are not looked at again.
[[nodiscard]] std::uint32_t FinishHostFile(int fileHandle, std::uint16_t dateWord,
                                           std::uint16_t timeWord, std::uint8_t attributes,
                                           bool madeReadOnly);

// Closes a file whose writing failed, without giving it the entry's time or
// attributes: it stays as far as it was written and can be replaced by a
// later run. madeReadOnly: the file was made by CreateNewHostFile with
// readOnly; on POSIX it gets the write permissions back that the umask
// allows.
void CloseUnfinishedHostFile(int fileHandle, bool madeReadOnly);
