// output_file.h - a file a program makes (mkselfdisk's program, dskread's
// image): a new file beside the output, which takes the output's name only
// once it is complete. Every operation returns 0 or a system error code
// (console/system_error.h) and reports nothing.
#pragma once
#include <cstddef>
#include <cstdint>

// Creates a new, empty file in the directory of path, under a name of its own
// that no other file has, for reading and writing; *fileHandle is its
// handle and temporaryPath (temporaryPathSize bytes) its path. On failure
// *fileHandle is -1. On POSIX, until CommitFile renames it or CloseOutputFile
// removes it, an interrupt, termination or hang-up signal removes it first
// and then does what it did before (the terminal guard's handler, or the
// default action: the program ends by the signal). Windows leaves it. At
// most kNewFileCount new files are made at a time (an image and its map): 4
// for one more.
inline constexpr int kNewFileCount = 2;
[[nodiscard]] std::uint32_t CreateFileBeside(const char* path, char* temporaryPath,
                                             std::size_t temporaryPathSize, int* fileHandle);

// True when path and otherPath both name one existing file, also through a
// link. False when either cannot be looked at: a path that names no file
// yet is no other file.
[[nodiscard]] bool IsSameFile(const char* path, const char* otherPath);

// The file's length in bytes.
[[nodiscard]] std::uint32_t GetFileLength(int fileHandle, std::uint64_t* length);

// Writes byteCount bytes at file offset offset; a write that ends short is a
// failure (112, disk full, when the system gave no reason).
[[nodiscard]] std::uint32_t WriteFileBytesAt(int fileHandle, std::uint64_t offset,
                                             const std::uint8_t* bytes, std::uint64_t byteCount);

// What a file is made for, which gives its permissions on POSIX.
enum class OutputFileKind : std::uint8_t {
    kProgram = 0,                          // 0777 & ~umask: rwxr-xr-x under the usual 022
    kData = 1,                             // 0666 & ~umask: rw-r--r-- under the usual 022
};

// Makes the file complete: its bytes reach the disk, it gets the permissions
// of its kind that the umask lets, it is closed and renamed from
// temporaryPath to path, replacing a file of that name when replace is set;
// otherwise a name that is taken, also one taken since the caller looked,
// fails with 183 (80 on a file system that cannot tell in one step, where
// the name is looked at first). The handle is closed in every case; on
// failure the caller removes temporaryPath.
[[nodiscard]] std::uint32_t CommitFile(int fileHandle, const char* temporaryPath,
                                       const char* path, OutputFileKind kind, bool replace);

// True when something has the name path: a file, a directory, a link (also
// one that leads nowhere). False when nothing has it, or it cannot be told.
[[nodiscard]] bool IsNameTaken(const char* path);

// Removes the file path; a name that nothing has is no failure.
[[nodiscard]] std::uint32_t RemoveFile(const char* path);

// Makes the directory entry of path reach the disk, after CommitFile renamed
// a file to it; without this a crash could leave the old file or none under
// that name. Windows' move has waited for it already: 0 there.
[[nodiscard]] std::uint32_t SyncDirectoryEntry(const char* path);

// Closes a handle (accepts -1); with removePath not nullptr the file of that
// path is removed as well.
void CloseOutputFile(int fileHandle, const char* removePath);
