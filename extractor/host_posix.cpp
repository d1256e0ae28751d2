// host_posix.cpp - the extractor's host operations on POSIX: getcwd, and
// directories walked and files created relative to open directory handles
// (openat, mkdirat), never through a link.
#include "extractor/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console/system_error.h"
#include "extractor/fat_volume.h"
#include "extractor/file_extraction.h"

bool GetWorkingDirectory(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    if (getcwd(buffer, bufferSize) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

// Directories are opened only to be walked through and created in: O_PATH
// needs no read permission on them, as a path did not.
#ifdef O_PATH
static constexpr int kDirectoryAccess = O_PATH;
#else
static constexpr int kDirectoryAccess = O_RDONLY;
#endif

std::uint32_t OpenHostDirectory(const char* path, int* directory) {
    int handle;
    do {
        handle = open(path, kDirectoryAccess | O_DIRECTORY | O_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    *directory = handle < 0 ? kNoHostDirectory : handle;
    if (handle >= 0) return 0;
    // A missing directory on the way is a missing path, not a missing file.
    return errno == ENOENT ? kErrorPathNotFound : SystemCodeFromPlatformError(errno);
}

// Opens name inside parent as a directory, never through a link (a link,
// like a file, is no directory to O_DIRECTORY); -1 with errno on failure.
static int OpenSubdirectoryHandle(int parent, const char* name) {
    int handle;
    do {
        handle = openat(parent, name, kDirectoryAccess | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    return handle;
}

// Makes the directory name inside parent; 0, or the code for the failure.
// *made is set when this call made it; one that stands there already is no
// failure (what stands there is decided by the open that follows).
static std::uint32_t MakeSubdirectory(int parent, const char* name, bool* made) {
    if (mkdirat(parent, name, 0777) == 0) {
        *made = true;
        return 0;
    }
    if (errno == EEXIST) return 0;
    return errno == ENOENT ? kErrorPathNotFound : SystemCodeFromPlatformError(errno);
}

std::uint32_t OpenHostSubdirectory(int parent, const char* name, bool create, bool parentMade,
                                   int* directory, bool* made) {
    *directory = kNoHostDirectory;
    *made = false;
    int handle = -1;
    if (create && parentMade) {
        const std::uint32_t code = MakeSubdirectory(parent, name, made);
        if (code != 0) return code;
        handle = OpenSubdirectoryHandle(parent, name);
    } else {
        handle = OpenSubdirectoryHandle(parent, name);
        if (handle < 0 && errno == ENOENT) {
            if (!create) return kErrorPathNotFound;
            const std::uint32_t code = MakeSubdirectory(parent, name, made);
            if (code != 0) return code;
            // Made here, or by someone else just now: what stands there decides.
            handle = OpenSubdirectoryHandle(parent, name);
        }
    }
    if (handle < 0) {
        if (errno == ENOTDIR || errno == ELOOP) return kErrorAlreadyExists;
        return errno == ENOENT ? kErrorPathNotFound : SystemCodeFromPlatformError(errno);
    }
    *directory = handle;
    return 0;
}

void CloseHostDirectory(int directory) {
    if (directory >= 0) close(directory);
}

bool IsExistingEntry(int directory, const char* name, bool wantDirectory) {
    struct stat status {};
    if (fstatat(directory, name, &status, 0) != 0) return false;
    return S_ISDIR(status.st_mode) == wantDirectory;
}

std::uint32_t CreateHostFile(int directory, const char* name, int* fileHandle) {
    *fileHandle = -1;
    // Non-blocking, so that a FIFO standing at the destination cannot stop the run.
    int handle;
    do {
        handle = openat(directory, name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        0666);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) return kErrorOpenFailed;
    struct stat status {};
    if (fstat(handle, &status) != 0 || !S_ISREG(status.st_mode) ||
        (status.st_mode & 0222) == 0 || (status.st_size > 0 && ftruncate(handle, 0) != 0)) {
        close(handle);
        return kErrorOpenFailed;
    }
    *fileHandle = handle;
    return 0;
}

std::uint32_t CreateNewHostFile(int directory, const char* name, bool readOnly, int* fileHandle) {
    *fileHandle = -1;
    // O_EXCL refuses whatever stands at name, a link or a FIFO included. A
    // file made without write permissions can still be written through the
    // handle that made it: (0666 & ~umask) with the write bits cleared, as
    // FinishHostFile would leave it, is 0444 & ~umask.
    const mode_t permissions = readOnly ? 0444 : 0666;
    int handle;
    do {
        handle = openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        permissions);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) return kErrorOpenFailed;
    *fileHandle = handle;
    return 0;
}

std::uint32_t WriteHostFile(int fileHandle, const std::uint8_t* bytes, std::size_t byteCount) {
    while (byteCount > 0) {
        ssize_t written = write(fileHandle, bytes, byteCount);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return kErrorWriteFault;
        bytes += written;
        byteCount -= static_cast<std::size_t>(written);
    }
    return 0;
}

std::uint32_t FinishHostFile(int fileHandle, std::uint16_t dateWord, std::uint16_t timeWord,
                             std::uint8_t attributes, bool madeReadOnly) {
    std::uint32_t code = 0;
    std::int64_t modificationTime = 0;
    if (ModificationTimeFromDos(dateWord, timeWord, &modificationTime)) {
        struct timespec times[2] = {};
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(modificationTime);
        if (futimens(fileHandle, times) != 0) code = SystemCodeFromPlatformError(errno);
    }
    if (code == 0 && (attributes & kAttributeReadOnly) != 0 && !madeReadOnly) {
        struct stat status {};
        if (fstat(fileHandle, &status) != 0 ||
            fchmod(fileHandle, status.st_mode & 07555) != 0) {
            code = SystemCodeFromPlatformError(errno);
        }
    }
    if (close(fileHandle) != 0 && code == 0 && errno != EINTR) {
        code = SystemCodeFromPlatformError(errno);
    }
    return code;
}

void CloseUnfinishedHostFile(int fileHandle, bool madeReadOnly) {
    if (madeReadOnly) {
        // The permissions the file would have had without readOnly: 0666 less
        // the umask, which can only be read by setting it.
        const mode_t mask = umask(0);
        umask(mask);
        (void)fchmod(fileHandle, 0666 & ~mask);
    }
    close(fileHandle);
}
