// system_error_linux.cpp - Linux's errno values (ENOMEDIUM and EMEDIUMTYPE
// among them) and their system error codes, in one table, and strerror as
// the text of a code; the codes without an errno value have texts of their
// own.
#include "console/system_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

struct ErrnoCode {
    int errnoValue;
    std::uint32_t code;
};

// Read in both directions: errno to code takes the first row with that errno,
// code to errno the first row with that code. EIO stands for a read fault
// where the failing call does not choose between reading and writing.
static constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, kErrorFileNotFound},
    {ENOTDIR, kErrorPathNotFound},
    {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles},
    {EACCES, kErrorAccessDenied},
    {EPERM, kErrorAccessDenied},
    {EISDIR, kErrorAccessDenied},
    {EBADF, kErrorInvalidHandle},
    {ENOMEM, kErrorNotEnoughMemory},
    {EROFS, kErrorWriteProtect},
    {ENODEV, kErrorBadUnit},
    {ENOMEDIUM, kErrorNotReady},
    {ENXIO, kErrorNotReady},
    {EIO, kErrorReadFault},
    {EIO, kErrorWriteFault},
    {EIO, kErrorIoDevice},
    {EIO, kErrorCrc},
    {EIO, kErrorSectorNotFound},
    // A sector the drive cannot read (a medium error, as a USB floppy drive
    // reports it): a data error, whose text stays EIO's, the row above.
    {ENODATA, kErrorCrc},
    {EBUSY, kErrorSharingViolation},
    {ETXTBSY, kErrorSharingViolation},
    {EWOULDBLOCK, kErrorSharingViolation},   // a lock another holder keeps
    {EOPNOTSUPP, kErrorNotSupported},
    {ENOTTY, kErrorInvalidFunction},
    {ENOSYS, kErrorInvalidFunction},
    {EEXIST, kErrorAlreadyExists},
    {EEXIST, kErrorFileExists},
    {EINVAL, kErrorInvalidParameter},
    {ENOSPC, kErrorDiskFull},
    {EFBIG, kErrorFileTooLarge},
    {ENAMETOOLONG, kErrorFileNameTooLong},
    {ENOTEMPTY, kErrorDirectoryNotEmpty},
    {ECANCELED, kErrorCancelled},
    {ETIMEDOUT, kErrorTimeout},
    {ELOOP, kErrorTooManyLinks},
    {EMEDIUMTYPE, kErrorUnrecognizedMedia},
};

std::uint32_t SystemCodeFromPlatformError(int platformError) {
    if (platformError == 0) return kErrorNone;
    for (const ErrnoCode& row : kErrnoCodes) {
        if (row.errnoValue == platformError) return row.code;
    }
    if (platformError < 0) return kErrorGeneralFailure;
    return kErrorPlatformBit | static_cast<std::uint32_t>(platformError);
}

int PlatformErrorFromSystemCode(std::uint32_t code) {
    if (code == kErrorNone) return 0;
    for (const ErrnoCode& row : kErrnoCodes) {
        if (row.code == code) return row.errnoValue;
    }
    if ((code & kErrorPlatformBit) != 0 && (code & ~kErrorPlatformBit) < 0x10000u) {
        return static_cast<int>(code & ~kErrorPlatformBit);
    }
    return 0;
}

struct CodeText {
    std::uint32_t code;
    const char* text;
};

// The codes the programs choose themselves, for failures that no single
// errno value describes, worded like the C library's own texts.
static constexpr CodeText kOwnTexts[] = {
    {kErrorGeneralFailure, "General failure"},
    {kErrorOpenFailed, "Cannot open the file"},
    {kErrorInvalidName, "Invalid file or directory name"},
};

// The names of the SCSI sense keys, by key.
static constexpr const char* kSenseKeyNames[] = {
    "No sense",        "Recovered error", "Not ready",       "Medium error",
    "Hardware error",  "Illegal request", "Unit attention",  "Data protect",
    "Blank check",     "Vendor specific", "Copy aborted",    "Aborted command",
    "Equal",           "Volume overflow", "Miscompare",      "Reserved sense",
};
static_assert(std::size(kSenseKeyNames) == 16, "a name for each 4-bit key");
static constexpr std::uint32_t kSenseBits = 0x000FFFFF;

// The text of a code behind kErrorSenseBit.
static std::size_t SenseText(std::uint32_t code, char* buffer, std::size_t bufferSize) {
    const unsigned key = (code >> 16) & 0x0F;
    const int length =
        std::snprintf(buffer, bufferSize, "%s reported by the drive, sense %X/%02X/%02X",
                      kSenseKeyNames[key], key, (code >> 8) & 0xFF, code & 0xFF);
    return length > 0 ? std::strlen(buffer) : 0;
}

std::size_t GetSystemErrorText(std::uint32_t code, char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return 0;
    buffer[0] = '\0';
    if ((code & ~kSenseBits) == kErrorSenseBit) return SenseText(code, buffer, bufferSize);
    const char* text = nullptr;
    for (const CodeText& row : kOwnTexts) {
        if (row.code == code) text = row.text;
    }
    if (text == nullptr) {
        int errnoValue = PlatformErrorFromSystemCode(code);
        if (errnoValue == 0) return 0;
        text = std::strerror(errnoValue);
    }
    int length = std::snprintf(buffer, bufferSize, "%s", text);
    if (length <= 0) return 0;
    std::size_t textLength = std::strlen(buffer);
    return textLength;
}
