// image_file_posix.cpp - image file reading with read(2) and lseek(2) into
// a buffer of anonymous memory.
#include "image/image_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include "console/system_error.h"

// With AddressSanitizer the buffer comes from calloc, so that a read past its
// end is reported instead of landing in the rest of a mapped page.
#if defined(__SANITIZE_ADDRESS__)
static constexpr bool kPlainImageBuffer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
static constexpr bool kPlainImageBuffer = true;
#else
static constexpr bool kPlainImageBuffer = false;
#endif
#else
static constexpr bool kPlainImageBuffer = false;
#endif

// Every 4 KiB page that a process touches first costs a page fault, and in a
// virtual machine each can cost tens of microseconds: a 1.44 MB diskette read
// into fresh memory page by page took several times as long as the read
// itself. The buffer takes whole 2 MiB pages, one fault each, where the
// system grants them: one for every full 2 MiB of the image, and one for the
// rest where that rest fills at least half of it, so that no more than 1 MiB
// is taken in vain (a 1.44 MB diskette: one page; 2.88 MB: one page and 832
// KiB). A smaller rest stays in small pages, all faulted in by one call.
static constexpr std::uint64_t kSmallPageSize = 4096;
static constexpr std::uint64_t kLargePageSize = 2u << 20;

static std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit) {
    return (value + unit - 1) / unit * unit;
}

// The bytes of a buffer of byteCount bytes that lie in 2 MiB pages, from its start.
static std::uint64_t LargePart(std::uint64_t byteCount) {
    const std::uint64_t whole = byteCount / kLargePageSize * kLargePageSize;
    return byteCount - whole >= kLargePageSize / 2 ? whole + kLargePageSize : whole;
}

// The bytes mapped for a buffer of byteCount bytes.
static std::uint64_t MappedSize(std::uint64_t byteCount) {
    const std::uint64_t large = LargePart(byteCount);
    return byteCount <= large ? large : large + RoundUp(byteCount - large, kSmallPageSize);
}

// Maps size bytes of anonymous memory at an address that is a multiple of
// alignment, by mapping more and giving back what lies before and after;
// every mapping is aligned to a small page already.
static void* MapAligned(std::uint64_t size, std::uint64_t alignment) {
    const std::size_t request =
        static_cast<std::size_t>(alignment > kSmallPageSize ? size + alignment : size);
    void* mapped = mmap(nullptr, request, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    if (request == size) return mapped;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = static_cast<std::uintptr_t>(RoundUp(start, alignment));
    const std::size_t before = aligned - start;
    const std::size_t after = request - before - static_cast<std::size_t>(size);
    if (before > 0) munmap(mapped, before);
    if (after > 0) munmap(reinterpret_cast<void*>(aligned + static_cast<std::uintptr_t>(size)), after);
    return reinterpret_cast<void*>(aligned);
}

std::uint8_t* AllocateImageBuffer(std::uint64_t byteCount) {
    if (kPlainImageBuffer || byteCount == 0 || byteCount > SIZE_MAX / 2) {
        return static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(byteCount), 1));
    }
    const std::uint64_t size = MappedSize(byteCount);
    const std::uint64_t large = LargePart(byteCount);
    void* buffer = MapAligned(size, large > 0 ? kLargePageSize : kSmallPageSize);
    if (buffer == nullptr) return nullptr;
    // Only a request: where the system has no 2 MiB pages to give, the
    // buffer stays in small ones.
    if (large > 0) (void)madvise(buffer, static_cast<std::size_t>(large), MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
    // All faults in one call; a system that lacks it faults during the read.
    (void)madvise(buffer, static_cast<std::size_t>(size), MADV_POPULATE_WRITE);
#endif
    return static_cast<std::uint8_t*>(buffer);
}

void FreeImageBuffer(std::uint8_t* buffer, std::uint64_t byteCount) {
    if (buffer == nullptr) return;
    if (kPlainImageBuffer || byteCount == 0 || byteCount > SIZE_MAX / 2) {
        std::free(buffer);
        return;
    }
    munmap(buffer, static_cast<std::size_t>(MappedSize(byteCount)));
}

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
