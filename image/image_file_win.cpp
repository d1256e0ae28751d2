// image_file_win.cpp - image file reading on Windows through the runtime
// library's low-level descriptor I/O in binary mode (_open, _read,
// _lseeki64); the Windows error of a failed call is the system error code.
#include "image/image_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "console/system_error.h"

// The buffer comes from calloc, zero-filled, and goes back to free.
std::uint8_t* AllocateImageBuffer(std::uint64_t byteCount) {
    if (byteCount > SIZE_MAX) return nullptr;
    return static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(byteCount), 1));
}

void FreeImageBuffer(std::uint8_t* buffer, std::uint64_t) { std::free(buffer); }

int OpenImageFile(const char* path) {
    const int handle = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (handle < 0) return -1;
    // A device name (CON, NUL, COM1 ...) opens a character device or a pipe
    // that could keep the reader waiting; only a file on a disk, or a drive
    // opened as a volume, is read.
    const HANDLE system = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    if (system == INVALID_HANDLE_VALUE || GetFileType(system) != FILE_TYPE_DISK) {
        _close(handle);
        return -1;
    }
    return handle;
}

void CloseImageFile(int fileHandle) {
    if (fileHandle >= 0) _close(fileHandle);
}

// _read moves at most INT_MAX bytes per call; one read asks for less.
static constexpr std::uint64_t kLargestRead = 0x40000000;

std::uint32_t ReadFileBytes(int fileHandle, std::uint8_t* buffer, std::uint64_t byteCount,
                            std::uint64_t* readCount) {
    std::uint64_t done = 0;
    std::uint32_t code = 0;
    while (done < byteCount) {
        const std::uint64_t left = byteCount - done;
        const unsigned request = static_cast<unsigned>(left < kLargestRead ? left : kLargestRead);
        _doserrno = 0;
        const int count = _read(fileHandle, buffer + done, request);
        if (count < 0) {
            code = SystemCodeFromRuntimeError();
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
    _doserrno = 0;
    const __int64 result = _lseeki64(fileHandle, offset, whence);
    if (result < 0) return SystemCodeFromRuntimeError();
    *position = static_cast<std::int64_t>(result);
    return 0;
}
