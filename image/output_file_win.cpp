// output_file_win.cpp - the programs' output files on Windows through the runtime
// library's descriptors (_sopen_s, _lseeki64, _write, _commit) and
// MoveFileExA, which replaces the output in one step.
#include "image/output_file.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "console/system_error.h"
#include "console/text.h"

// _write moves at most INT_MAX bytes per call; one write asks for less.
static constexpr std::uint64_t kLargestWrite = 0x40000000;
// Names tried for the new file before giving up.
static constexpr unsigned kTemporaryNameTries = 100;

// Opens path with flags, read and write permission, no sharing for writers.
static int OpenDescriptor(const char* path, int flags) {
    int handle = -1;
    _doserrno = 0;
    if (_sopen_s(&handle, path, flags | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                 _S_IREAD | _S_IWRITE) != 0) {
        return -1;
    }
    return handle;
}

std::uint32_t CreateFileBeside(const char* path, char* temporaryPath,
                               std::size_t temporaryPathSize, int* fileHandle) {
    *fileHandle = -1;
    // "<path>.<process>-<try>": the same directory, so that the move stays on
    // one volume and replaces the output in one step.
    std::uint32_t code = kErrorFileExists;
    for (unsigned attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        if (!FormatText(temporaryPath, temporaryPathSize, "%s.%lu-%u", path,
                        static_cast<unsigned long>(GetCurrentProcessId()), attempt)) {
            if (temporaryPathSize > 0) temporaryPath[0] = '\0';
            return kErrorFileNameTooLong;
        }
        const int handle = OpenDescriptor(temporaryPath, _O_RDWR | _O_CREAT | _O_EXCL);
        if (handle >= 0) {
            *fileHandle = handle;
            return 0;
        }
        code = SystemCodeFromRuntimeError();
        if (code != kErrorFileExists && code != kErrorAlreadyExists) break;
    }
    temporaryPath[0] = '\0';
    return code;
}

// The volume and file index of path: what tells one file from another
// whatever name reaches it. False when it cannot be opened.
static bool GetFileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* information) {
    // No access asked, and every kind of sharing allowed: the file may be
    // open elsewhere; FILE_FLAG_BACKUP_SEMANTICS opens a directory too.
    const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(handle, information) != 0;
    CloseHandle(handle);
    return known;
}

bool IsSameFile(const char* path, const char* otherPath) {
    BY_HANDLE_FILE_INFORMATION information{};
    BY_HANDLE_FILE_INFORMATION otherInformation{};
    return GetFileIdentity(path, &information) && GetFileIdentity(otherPath, &otherInformation) &&
           information.dwVolumeSerialNumber == otherInformation.dwVolumeSerialNumber &&
           information.nFileIndexHigh == otherInformation.nFileIndexHigh &&
           information.nFileIndexLow == otherInformation.nFileIndexLow;
}

std::uint32_t GetFileLength(int fileHandle, std::uint64_t* length) {
    _doserrno = 0;
    const __int64 result = _filelengthi64(fileHandle);
    if (result < 0) return SystemCodeFromRuntimeError();
    *length = static_cast<std::uint64_t>(result);
    return 0;
}

std::uint32_t WriteFileBytesAt(int fileHandle, std::uint64_t offset, const std::uint8_t* bytes,
                               std::uint64_t byteCount) {
    _doserrno = 0;
    if (_lseeki64(fileHandle, static_cast<__int64>(offset), SEEK_SET) < 0) return SystemCodeFromRuntimeError();
    std::uint64_t done = 0;
    while (done < byteCount) {
        const std::uint64_t left = byteCount - done;
        const unsigned request = static_cast<unsigned>(left < kLargestWrite ? left : kLargestWrite);
        _doserrno = 0;
        const int count = _write(fileHandle, bytes + done, request);
        if (count < 0) return SystemCodeFromRuntimeError();
        if (count == 0) return kErrorDiskFull;
        done += static_cast<std::uint64_t>(count);
    }
    return 0;
}

// A file's permissions on Windows do not depend on its kind.
std::uint32_t CommitFile(int fileHandle, const char* temporaryPath, const char* path,
                         OutputFileKind kind, bool replace) {
    (void)kind;
    std::uint32_t code = 0;
    _doserrno = 0;
    if (_commit(fileHandle) != 0) code = SystemCodeFromRuntimeError();
    if (_close(fileHandle) != 0 && code == 0) code = SystemCodeFromRuntimeError();
    if (code == 0 &&
        !MoveFileExA(temporaryPath, path,
                     (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH)) {
        code = GetLastError();
    }
    return code;
}

std::uint32_t SyncDirectoryEntry(const char*) { return 0; }

bool IsNameTaken(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

std::uint32_t RemoveFile(const char* path) {
    if (DeleteFileA(path)) return 0;
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? 0 : code;
}

void CloseOutputFile(int fileHandle, const char* removePath) {
    if (fileHandle >= 0) _close(fileHandle);
    if (removePath != nullptr && removePath[0] != '\0') DeleteFileA(removePath);
}
