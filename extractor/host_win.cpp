// host_win.cpp - the extractor's host operations on Windows. A directory of
// the walk is held open (CreateFileA with backup semantics) for as long as
// the walk needs it, shared for reading and writing but not for deleting: no
// one can rename or remove it, or a directory above it, meanwhile, so the
// paths built below it stay inside it. A directory that is a link (a
// junction, a symbolic link) is never entered, and a file is never created
// through one. Names that Windows takes for devices (CON, NUL, COM1 ...)
// or shortens (a trailing dot or space) are refused.
#include "extractor/host.h"

#include <direct.h>
#include <windows.h>

#include <cstring>
#include <iterator>

#include "console/critical_errors_win.h"
#include "console/system_error.h"
#include "console/text.h"
#include "extractor/command_line.h"

// The walk holds the extraction directory, the kHeldDirectoryCount outermost
// directories below it on the way to the last file's directory, the
// innermost one of that way and, for a moment, the next one, which is opened
// before the innermost is let go; one file is open at a time.
static constexpr std::size_t kDirectorySlotCount = kHeldDirectoryCount + 3;
static constexpr std::size_t kFileSlotCount = 2;

struct HostSlot {
    bool used;
    HANDLE handle;
    char path[kPathSize];                  // the path the handle was opened with
};

static HostSlot directorySlots[kDirectorySlotCount];
static HostSlot fileSlots[kFileSlotCount];

// The attributes a file takes from its entry: read-only, hidden, system,
// archive. The directory and volume bits are no file's.
static constexpr std::uint8_t kFileAttributeMask = 0x27;

// 100-nanosecond units in an hour: the file time is one hour earlier than
// the time stored in the entry.
static constexpr std::uint64_t kOneHour = 36000000000ull;

bool GetWorkingDirectory(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    if (_getdcwd(_getdrive(), buffer, static_cast<int>(bufferSize)) == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

// The device names of DOS and Windows: a name whose part before the first
// "." is one of them opens the device, whatever its extension. COM and LPT
// take a digit 1 to 9 or a superscript one to three of the ANSI code page.
static bool IsDeviceName(const char* name) {
    char base[kPathSize];
    if (!CopyText(base, std::size(base), name)) return false;
    char* dot = std::strchr(base, '.');
    if (dot != nullptr) *dot = '\0';
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices) {
        if (_stricmp(base, device) == 0) return true;
    }
    if (std::strlen(base) != 4) return false;
    if (_strnicmp(base, "COM", 3) != 0 && _strnicmp(base, "LPT", 3) != 0) return false;
    const unsigned char number = static_cast<unsigned char>(base[3]);
    return (number >= '1' && number <= '9') || number == 0xB9 || number == 0xB2 || number == 0xB3;
}

// True when name reaches the file system as it stands: no device, and no
// trailing dot or space, which Windows would drop (".." would then be "").
static bool IsNameKeptAsItIs(const char* name) {
    const std::size_t length = std::strlen(name);
    if (length == 0 || name[length - 1] == '.' || name[length - 1] == ' ') return false;
    return !IsDeviceName(name);
}

// The path of name inside the directory of slot; false when it does not fit.
static bool JoinPath(const HostSlot* directory, const char* name, char* path) {
    return FormatText(path, kPathSize, "%s\\%s", directory->path, name);
}

static HostSlot* DirectorySlot(int directory) {
    if (directory < 0 || static_cast<std::size_t>(directory) >= kDirectorySlotCount) return nullptr;
    HostSlot* slot = &directorySlots[directory];
    return slot->used ? slot : nullptr;
}

static HostSlot* FileSlot(int fileHandle) {
    if (fileHandle < 0 || static_cast<std::size_t>(fileHandle) >= kFileSlotCount) return nullptr;
    HostSlot* slot = &fileSlots[fileHandle];
    return slot->used ? slot : nullptr;
}

// Takes a free slot of table for handle and path; -1 when none is free (the
// handle is then closed).
static int TakeSlot(HostSlot* table, std::size_t slotCount, HANDLE handle, const char* path) {
    for (std::size_t index = 0; index < slotCount; ++index) {
        if (table[index].used) continue;
        if (!CopyText(table[index].path, kPathSize, path)) break;
        table[index].used = true;
        table[index].handle = handle;
        return static_cast<int>(index);
    }
    CloseHandle(handle);
    return -1;
}

static void FreeSlot(HostSlot* slot) {
    CloseHandle(slot->handle);
    slot->used = false;
    slot->handle = INVALID_HANDLE_VALUE;
    slot->path[0] = '\0';
}

// Opens path as a directory to hold; followLink false opens a link itself,
// which is then refused. 0 and *handle, or a system error code:
// kErrorAlreadyExists when what stands there is no directory.
static std::uint32_t OpenDirectoryHandle(const char* path, bool followLink, HANDLE* handle) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    *handle = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                          nullptr);
    if (*handle == INVALID_HANDLE_VALUE) return GetLastError();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(*handle, &information)) {
        const std::uint32_t code = GetLastError();
        CloseHandle(*handle);
        return code;
    }
    const DWORD attributes = information.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        CloseHandle(*handle);
        return kErrorAlreadyExists;
    }
    return 0;
}

std::uint32_t OpenHostDirectory(const char* path, int* directory) {
    *directory = kNoHostDirectory;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint32_t code = OpenDirectoryHandle(path, true, &handle);
    if (code == kErrorAlreadyExists || code == kErrorFileNotFound) return kErrorPathNotFound;
    if (code != 0) return code;
    const int slot = TakeSlot(directorySlots, kDirectorySlotCount, handle, path);
    if (slot < 0) return kErrorTooManyOpenFiles;
    *directory = slot;
    return 0;
}

// Makes the directory path with the system's critical-error dialogs off (a
// drive without a diskette answers with an error code, not a dialog).
static std::uint32_t MakeDirectory(const char* path) {
    CriticalErrorsOff errorMode;
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = FALSE;
    const bool made = CreateDirectoryA(path, &security) != 0;
    return made ? 0 : GetLastError();
}

// parentMade changes nothing here: a directory is always looked for first.
std::uint32_t OpenHostSubdirectory(int parent, const char* name, bool create, bool,
                                   int* directory, bool* made) {
    *directory = kNoHostDirectory;
    *made = false;
    const HostSlot* parentSlot = DirectorySlot(parent);
    if (parentSlot == nullptr) return kErrorInvalidHandle;
    if (!IsNameKeptAsItIs(name)) return kErrorInvalidName;
    char path[kPathSize];
    if (!JoinPath(parentSlot, name, path)) return kErrorFileNameTooLong;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint32_t code = OpenDirectoryHandle(path, false, &handle);
    if (code == kErrorFileNotFound || code == kErrorPathNotFound) {
        if (!create) return kErrorPathNotFound;
        code = MakeDirectory(path);
        if (code != 0 && code != kErrorAlreadyExists) return code;
        *made = code == 0;
        // Made here, or by someone else just now: what stands there decides.
        code = OpenDirectoryHandle(path, false, &handle);
    }
    if (code != 0) return code == kErrorFileNotFound ? kErrorPathNotFound : code;
    const int slot = TakeSlot(directorySlots, kDirectorySlotCount, handle, path);
    if (slot < 0) return kErrorTooManyOpenFiles;
    *directory = slot;
    return 0;
}

void CloseHostDirectory(int directory) {
    HostSlot* slot = DirectorySlot(directory);
    if (slot != nullptr) FreeSlot(slot);
}

bool IsExistingEntry(int directory, const char* name, bool wantDirectory) {
    const HostSlot* slot = DirectorySlot(directory);
    char path[kPathSize];
    if (slot == nullptr || !IsNameKeptAsItIs(name) || !JoinPath(slot, name, path)) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == wantDirectory;
}

// Opens name inside directory for writing with creation (CREATE_NEW or
// OPEN_ALWAYS), never through a link, and keeps it when it is a regular file
// on a disk; 0 and *fileHandle, or kErrorOpenFailed.
static std::uint32_t OpenHostFile(int directory, const char* name, DWORD creation,
                                  int* fileHandle) {
    *fileHandle = -1;
    const HostSlot* slot = DirectorySlot(directory);
    char path[kPathSize];
    if (slot == nullptr || !IsNameKeptAsItIs(name) || !JoinPath(slot, name, path)) {
        return kErrorOpenFailed;
    }
    // No sharing: nobody else writes the file while it is written here. A
    // read-only file refuses the write access.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE, 0, nullptr, creation,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return kErrorOpenFailed;
    // A read-only file is refused also where the open did not refuse it (an
    // administrator's, or wine's for root).
    BY_HANDLE_FILE_INFORMATION information{};
    const DWORD refused =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
        (information.dwFileAttributes & refused) != 0) {
        CloseHandle(handle);
        return kErrorOpenFailed;
    }
    // The old contents go only once the file is known to be one of ours to
    // replace.
    if (creation == OPEN_ALWAYS && !SetEndOfFile(handle)) {
        CloseHandle(handle);
        return kErrorOpenFailed;
    }
    const int taken = TakeSlot(fileSlots, kFileSlotCount, handle, path);
    if (taken < 0) return kErrorOpenFailed;
    *fileHandle = taken;
    return 0;
}

std::uint32_t CreateHostFile(int directory, const char* name, int* fileHandle) {
    return OpenHostFile(directory, name, OPEN_ALWAYS, fileHandle);
}

// The read-only attribute is given by FinishHostFile, as to every file.
std::uint32_t CreateNewHostFile(int directory, const char* name, bool, int* fileHandle) {
    return OpenHostFile(directory, name, CREATE_NEW, fileHandle);
}

std::uint32_t WriteHostFile(int fileHandle, const std::uint8_t* bytes, std::size_t byteCount) {
    const HostSlot* slot = FileSlot(fileHandle);
    if (slot == nullptr) return kErrorInvalidHandle;
    while (byteCount > 0) {
        const DWORD request = byteCount > 0x40000000 ? 0x40000000 : static_cast<DWORD>(byteCount);
        DWORD written = 0;
        if (!WriteFile(slot->handle, bytes, request, &written, nullptr) || written == 0) {
            return kErrorWriteFault;
        }
        bytes += written;
        byteCount -= written;
    }
    return 0;
}

// The entry's date and time as a file time one hour earlier, with no other
// time-zone conversion; false for a date or time DosDateTimeToFileTime
// refuses.
static bool FileTimeFromDos(std::uint16_t dateWord, std::uint16_t timeWord, FILETIME* fileTime) {
    FILETIME stored{};
    if (!DosDateTimeToFileTime(dateWord, timeWord, &stored)) return false;
    ULARGE_INTEGER value{};
    value.LowPart = stored.dwLowDateTime;
    value.HighPart = stored.dwHighDateTime;
    if (value.QuadPart < kOneHour) return false;
    value.QuadPart -= kOneHour;
    fileTime->dwLowDateTime = value.LowPart;
    fileTime->dwHighDateTime = value.HighPart;
    return true;
}

std::uint32_t FinishHostFile(int fileHandle, std::uint16_t dateWord, std::uint16_t timeWord,
                             std::uint8_t attributes, bool) {
    HostSlot* slot = FileSlot(fileHandle);
    if (slot == nullptr) return kErrorInvalidHandle;
    std::uint32_t code = 0;
    FILETIME fileTime{};
    if (FileTimeFromDos(dateWord, timeWord, &fileTime) &&
        !SetFileTime(slot->handle, &fileTime, nullptr, &fileTime)) {
        code = GetLastError();
    }
    char path[kPathSize];
    std::memcpy(path, slot->path, sizeof(path));
    FreeSlot(slot);
    if (code == 0) {
        const DWORD fileAttributes = attributes & kFileAttributeMask;
        if (!SetFileAttributesA(path, fileAttributes != 0 ? fileAttributes : FILE_ATTRIBUTE_NORMAL)) {
            code = GetLastError();
        }
    }
    return code;
}

// The file was made without attributes, so closing it is all.
void CloseUnfinishedHostFile(int fileHandle, bool) {
    HostSlot* slot = FileSlot(fileHandle);
    if (slot != nullptr) FreeSlot(slot);
}
