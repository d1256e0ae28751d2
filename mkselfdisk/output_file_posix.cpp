// output_file_posix.cpp - mkselfdisk's files through mkostemp(3), pwrite(2),
// fsync(2) and rename(2), and the fsync(2) of their directory.
#include "mkselfdisk/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/system_error.h"

// Linux moves at most about 2 GiB per call; one write asks for less.
static constexpr std::uint64_t kLargestWrite = 0x40000000;
static constexpr mode_t kProgramMode = 0777;   // before the umask

std::uint32_t CreateFileBeside(const char* path, char* temporaryPath,
                               std::size_t temporaryPathSize, int* fileHandle) {
    *fileHandle = -1;
    // "<path>.XXXXXX": the same directory, so that the rename stays on one
    // file system and replaces the output in one step.
    const int length = std::snprintf(temporaryPath, temporaryPathSize, "%s.XXXXXX", path);
    if (length < 0 || static_cast<std::size_t>(length) >= temporaryPathSize) {
        if (temporaryPathSize > 0) temporaryPath[0] = '\0';
        return kErrorFileNameTooLong;
    }
    const int handle = mkostemp(temporaryPath, O_CLOEXEC);
    if (handle < 0) {
        const std::uint32_t code = SystemCodeFromPlatformError(errno);
        temporaryPath[0] = '\0';
        return code;
    }
    *fileHandle = handle;
    return 0;
}

bool IsSameFile(const char* path, const char* otherPath) {
    struct stat status {};
    struct stat otherStatus {};
    return stat(path, &status) == 0 && stat(otherPath, &otherStatus) == 0 &&
           status.st_dev == otherStatus.st_dev && status.st_ino == otherStatus.st_ino;
}

std::uint32_t GetFileLength(int fileHandle, std::uint64_t* length) {
    struct stat status {};
    if (fstat(fileHandle, &status) != 0) return SystemCodeFromPlatformError(errno);
    *length = static_cast<std::uint64_t>(status.st_size);
    return 0;
}

std::uint32_t WriteFileBytesAt(int fileHandle, std::uint64_t offset, const std::uint8_t* bytes,
                               std::uint64_t byteCount) {
    std::uint64_t done = 0;
    while (done < byteCount) {
        const std::uint64_t left = byteCount - done;
        const std::size_t request = static_cast<std::size_t>(left < kLargestWrite ? left : kLargestWrite);
        const ssize_t count =
            pwrite(fileHandle, bytes + done, request, static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return SystemCodeFromPlatformError(errno);
        if (count == 0) return kErrorDiskFull;
        done += static_cast<std::uint64_t>(count);
    }
    return 0;
}

std::uint32_t CommitFile(int fileHandle, const char* temporaryPath, const char* path) {
    std::uint32_t code = 0;
    // mkostemp made the file rw-------; a program is given the mode a new
    // program gets from the linker, which asks for 0777 and lets the umask
    // take away what the user does not give.
    const mode_t mask = umask(0);
    umask(mask);
    if (fsync(fileHandle) != 0 || fchmod(fileHandle, kProgramMode & ~mask) != 0) {
        code = SystemCodeFromPlatformError(errno);
    }
    if (close(fileHandle) != 0 && code == 0) code = SystemCodeFromPlatformError(errno);
    if (code == 0 && rename(temporaryPath, path) != 0) code = SystemCodeFromPlatformError(errno);
    return code;
}

std::uint32_t SyncDirectoryEntry(const char* path) {
    char directory[PATH_MAX];
    const int length = std::snprintf(directory, std::size(directory), "%s", path);
    if (length < 0 || static_cast<std::size_t>(length) >= std::size(directory)) {
        return kErrorFileNameTooLong;
    }
    char* separator = std::strrchr(directory, '/');
    if (separator == nullptr) {
        std::snprintf(directory, std::size(directory), ".");
    } else {
        separator[separator == directory ? 1 : 0] = '\0';   // "/name" lies in "/"
    }
    const int handle = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) return SystemCodeFromPlatformError(errno);
    std::uint32_t code = 0;
    // A file system that cannot sync a directory says EINVAL; it has nothing
    // to make reach the disk that way.
    if (fsync(handle) != 0 && errno != EINVAL) code = SystemCodeFromPlatformError(errno);
    close(handle);
    return code;
}

void CloseOutputFile(int fileHandle, const char* removePath) {
    if (fileHandle >= 0) close(fileHandle);
    if (removePath != nullptr && removePath[0] != '\0') unlink(removePath);
}
