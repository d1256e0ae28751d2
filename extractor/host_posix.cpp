// host_posix.cpp - the extractor's host operations on POSIX: /proc/self/exe,
// getcwd, and files created without following links.
#include "extractor/host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "console/system_error.h"

bool GetWorkingDirectory(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    if (getcwd(buffer, bufferSize) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool IsExistingPath(const char* path, bool directory) {
    struct stat status {};
    if (stat(path, &status) != 0) return false;
    return S_ISDIR(status.st_mode) == directory;
}

std::uint32_t CreateHostDirectory(const char* path) {
    if (mkdir(path, 0777) == 0) return 0;
    const int mkdirError = errno;
    struct stat status {};
    if (mkdirError == EEXIST && lstat(path, &status) == 0) {
        if (S_ISDIR(status.st_mode)) return 0;
        return kErrorAlreadyExists;
    }
    // A missing directory on the way is a missing path, not a missing file.
    if (mkdirError == ENOENT) return kErrorPathNotFound;
    return SystemCodeFromPlatformError(mkdirError);
}

std::uint32_t CreateHostFile(const char* path, int* fileHandle) {
    *fileHandle = -1;
    // Non-blocking, so that a FIFO standing at the destination cannot stop the run.
    int handle;
    do {
        handle = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
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

std::uint32_t CreateNewHostFile(const char* path, int* fileHandle) {
    *fileHandle = -1;
    // O_EXCL refuses whatever stands at path, a link or a FIFO included.
    int handle;
    do {
        handle = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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

std::uint32_t FinishHostFile(int fileHandle, bool setTime, std::int64_t modificationTime,
                             bool readOnly) {
    std::uint32_t code = 0;
    if (setTime) {
        struct timespec times[2] = {};
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(modificationTime);
        if (futimens(fileHandle, times) != 0) code = SystemCodeFromPlatformError(errno);
    }
    if (code == 0 && readOnly) {
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
