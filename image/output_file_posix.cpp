// output_file_posix.cpp - the programs' output files through mkostemp(3), pwrite(2),
// fsync(2) and rename(2), and the fsync(2) of their directory; and handlers
// that remove the new file when a signal ends the program. The handlers read
// the path only after the flag that says it is valid, with the fences that
// keep the compiler from moving the path's stores past the flag, and call
// only async-signal-safe functions.
#include "image/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "console/system_error.h"

// Linux moves at most about 2 GiB per call; one write asks for less.
static constexpr std::uint64_t kLargestWrite = 0x40000000;
static constexpr mode_t kProgramMode = 0777;   // before the umask
static constexpr mode_t kDataMode = 0666;

// The signals that end a program when the user (Ctrl+C), the system or a
// closed terminal asks, and what each one did before the handler here.
static constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
static struct sigaction previousActions[std::size(kEndingSignals)];
static bool handlersInstalled = false;
// The new files, not yet renamed: each path is valid while its flag is set.
static volatile sig_atomic_t removalPending[kNewFileCount] = {};
static char pendingPaths[kNewFileCount][PATH_MAX];

static void FillEndingSignals(sigset_t* set) {
    sigemptyset(set);
    for (int signalNumber : kEndingSignals) sigaddset(set, signalNumber);
}

// Removes the new files, then lets the signal do what it did before: the
// handler installed before (the terminal guard's, which ends the program by
// the signal after giving the terminal back), or the default action, which
// ends the program at once.
static void RemoveNewFileAndGoOn(int signalNumber, siginfo_t* information, void* context) {
    const int savedErrno = errno;
    for (int slot = 0; slot < kNewFileCount; ++slot) {
        if (!removalPending[slot]) continue;
        std::atomic_signal_fence(std::memory_order_acquire);
        unlink(pendingPaths[slot]);
        removalPending[slot] = 0;
    }
    std::size_t index = 0;
    while (index + 1 < std::size(kEndingSignals) && kEndingSignals[index] != signalNumber) ++index;
    const struct sigaction* previous = &previousActions[index];
    if ((previous->sa_flags & SA_SIGINFO) != 0) {
        previous->sa_sigaction(signalNumber, information, context);
    } else if (previous->sa_handler != SIG_DFL && previous->sa_handler != SIG_IGN) {
        previous->sa_handler(signalNumber);
    } else {
        // Raised again while blocked in this handler, then unblocked.
        struct sigaction defaultAction {};
        defaultAction.sa_handler = SIG_DFL;
        sigaction(signalNumber, &defaultAction, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signalNumber);
        raise(signalNumber);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
    }
    errno = savedErrno;
}

// A signal that was ignored when the program started stays ignored
// (nohup's hang-up, for instance).
static void InstallRemovalHandlers() {
    if (handlersInstalled) return;
    handlersInstalled = true;
    for (std::size_t index = 0; index < std::size(kEndingSignals); ++index) {
        if (sigaction(kEndingSignals[index], nullptr, &previousActions[index]) != 0 ||
            previousActions[index].sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_sigaction = RemoveNewFileAndGoOn;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        FillEndingSignals(&action.sa_mask);
        sigaction(kEndingSignals[index], &action, nullptr);
    }
}

// The new file is made, renamed and removed with the ending signals blocked,
// so that the handlers never find a path whose file is not the new one.
static void BlockEndingSignals(sigset_t* previousMask) {
    sigset_t ending;
    FillEndingSignals(&ending);
    sigprocmask(SIG_BLOCK, &ending, previousMask);
}

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
    InstallRemovalHandlers();
    sigset_t previousMask;
    BlockEndingSignals(&previousMask);
    int slot = 0;
    while (slot < kNewFileCount && removalPending[slot]) ++slot;
    int handle = -1;
    int savedErrno = EMFILE;
    if (slot < kNewFileCount) {
        handle = mkostemp(temporaryPath, O_CLOEXEC);
        savedErrno = errno;
    }
    if (handle >= 0 && static_cast<std::size_t>(length) < std::size(pendingPaths[slot])) {
        std::memcpy(pendingPaths[slot], temporaryPath, static_cast<std::size_t>(length) + 1);
        std::atomic_signal_fence(std::memory_order_release);
        removalPending[slot] = 1;
    }
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    if (handle < 0) {
        temporaryPath[0] = '\0';
        return SystemCodeFromPlatformError(savedErrno);
    }
    *fileHandle = handle;
    return 0;
}

// Forgets the new file temporaryPath, renamed or removed; called with the
// ending signals blocked.
static void ForgetNewFile(const char* temporaryPath) {
    for (int slot = 0; slot < kNewFileCount; ++slot) {
        if (removalPending[slot] && std::strcmp(pendingPaths[slot], temporaryPath) == 0) {
            removalPending[slot] = 0;
        }
    }
}

// Gives temporaryPath the name path unless something has it: a second link,
// which no name that is taken can get, then the first one removed. A file
// system without links (FAT) is asked first whether the name is taken.
static std::uint32_t RenameWithoutReplacing(const char* temporaryPath, const char* path) {
    if (link(temporaryPath, path) == 0) {
        unlink(temporaryPath);
        return 0;
    }
    if (errno == EEXIST) return kErrorAlreadyExists;
    if (IsNameTaken(path)) return kErrorFileExists;
    if (rename(temporaryPath, path) != 0) return SystemCodeFromPlatformError(errno);
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

std::uint32_t CommitFile(int fileHandle, const char* temporaryPath, const char* path,
                         OutputFileKind kind, bool replace) {
    std::uint32_t code = 0;
    // mkostemp made the file rw-------; a program is given the mode a new
    // program gets from the linker, which asks for 0777, and a data file the
    // mode any new file gets, 0666; the umask takes away what the user does
    // not give.
    const mode_t mask = umask(0);
    umask(mask);
    const mode_t mode = kind == OutputFileKind::kProgram ? kProgramMode : kDataMode;
    if (fsync(fileHandle) != 0 || fchmod(fileHandle, mode & ~mask) != 0) {
        code = SystemCodeFromPlatformError(errno);
    }
    if (close(fileHandle) != 0 && code == 0) code = SystemCodeFromPlatformError(errno);
    sigset_t previousMask;
    BlockEndingSignals(&previousMask);
    if (code == 0 && replace && rename(temporaryPath, path) != 0) {
        code = SystemCodeFromPlatformError(errno);
    } else if (code == 0 && !replace) {
        code = RenameWithoutReplacing(temporaryPath, path);
    }
    if (code == 0) ForgetNewFile(temporaryPath);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return code;
}

bool IsNameTaken(const char* path) {
    struct stat status {};
    return lstat(path, &status) == 0;
}

std::uint32_t RemoveFile(const char* path) {
    if (unlink(path) != 0 && errno != ENOENT) return SystemCodeFromPlatformError(errno);
    return 0;
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
    if (removePath == nullptr || removePath[0] == '\0') return;
    sigset_t previousMask;
    BlockEndingSignals(&previousMask);
    unlink(removePath);
    ForgetNewFile(removePath);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}
