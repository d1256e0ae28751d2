// image_file_posix.cpp - image file reading with read(2) and lseek(2).
#include "image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "console/system_error.h"

int OpenImageFile(const char* path) {
    // Non-blocking first: opening a FIFO for reading would otherwise wait for
    // a writer for ever. Whatever it is, it is refused below unless it is a
    // regular file or a block device (a diskette read as a plain image).
    int handle;
    do {
        handle = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (handle < 0 && errno == EINTR);
    if (handle < 0) return -1;
    struct stat status {};
    const int flags = fcntl(handle, F_GETFL);
    if (fstat(handle, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) ||
        flags < 0 || fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(handle);
        return -1;
    }
    return handle;
}

void CloseImageFile(int fileHandle) {
    if (fileHandle >= 0) close(fileHandle);
}

// Linux moves at most about 2 GiB per call; one read asks for less.
static constexpr std::uint64_t kLargestRead = 0x40000000;

std::uint32_t ReadFileBytes(int fileHandle, std::uint8_t* buffer, std::uint64_t byteCount,
                            std::uint64_t* readCount) {
    std::uint64_t done = 0;
    std::uint32_t code = 0;
    while (done < byteCount) {
        const std::uint64_t left = byteCount - done;
        const std::size_t request = static_cast<std::size_t>(left < kLargestRead ? left : kLargestRead);
        const ssize_t count = read(fileHandle, buffer + done, request);
        if (count < 0) {
            if (errno == EINTR) continue;
            code = SystemCodeFromPlatformError(errno);
            break;
        }
        if (count == 0) break;
        done += static_cast<std::uint64_t>(count);
    }
    *readCount = done;
    return code;
}

std::uint32_t SeekFile(int fileHandle, std::int64_t offset, SeekOrigin origin,
                       std::int64_t* position) {
    const int whence = origin == SeekOrigin::kStart ? SEEK_SET : SEEK_CUR;
    const off_t result = lseek(fileHandle, static_cast<off_t>(offset), whence);
    if (result < 0) return SystemCodeFromPlatformError(errno);
    *position = static_cast<std::int64_t>(result);
    return 0;
}
