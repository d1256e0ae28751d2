// system_error.h - system error codes. Every platform reports failures in one
// numbering (the classic Windows error codes), so callers compare and show the
// same numbers everywhere; the platform layer translates its own errors once,
// where a call fails.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kErrorNone = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorBadUnit = 20;
inline constexpr std::uint32_t kErrorNotReady = 21;           // no diskette in the drive
inline constexpr std::uint32_t kErrorCrc = 23;
inline constexpr std::uint32_t kErrorSectorNotFound = 27;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorReadFault = 30;
inline constexpr std::uint32_t kErrorGeneralFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;   // device or file busy
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorOpenFailed = 110;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFileNameTooLong = 206;
inline constexpr std::uint32_t kErrorDirectoryNotEmpty = 145;
inline constexpr std::uint32_t kErrorFileTooLarge = 223;   // past a file size limit
inline constexpr std::uint32_t kErrorIoDevice = 1117;
inline constexpr std::uint32_t kErrorCancelled = 1223;
inline constexpr std::uint32_t kErrorTimeout = 1460;
inline constexpr std::uint32_t kErrorUnrecognizedMedia = 1785;   // a diskette of no known format
inline constexpr std::uint32_t kErrorTooManyLinks = 1921;

// A platform error with no counterpart in the numbering keeps its own value
// behind this bit, so that its text can still be found.
inline constexpr std::uint32_t kErrorPlatformBit = 0x20000000;

// A drive's answer in SCSI sense data that no code above stands for (a USB
// floppy drive refusing a command, on Linux): the sense key, additional
// sense code and its qualifier kept behind this bit, bits 19-16, 15-8 and
// 7-0, so that the text names them for a report of the drive's behaviour:
// "Medium error reported by the drive, sense 3/31/01".
inline constexpr std::uint32_t kErrorSenseBit = 0x10000000;
[[nodiscard]] constexpr std::uint32_t SystemCodeFromSense(std::uint8_t key, std::uint8_t asc,
                                                          std::uint8_t ascq) {
    return kErrorSenseBit | (static_cast<std::uint32_t>(key & 0x0F) << 16) |
           (static_cast<std::uint32_t>(asc) << 8) | ascq;
}

// POSIX only (system_error_linux.cpp); on Windows the platform's error codes
// are the system error codes themselves.
// Translates errno into a system error code.
[[nodiscard]] std::uint32_t SystemCodeFromPlatformError(int platformError);

// The errno value a system error code stands for, or 0 for none.
[[nodiscard]] int PlatformErrorFromSystemCode(std::uint32_t code);

// Windows only (system_error_win.cpp): the system error code of the runtime
// library call (_open, _read, _lseeki64 ...) that just failed: the Windows
// error behind it, or where the library failed without one, its own reason
// (an argument it refused is an invalid parameter, anything else a general
// failure).
[[nodiscard]] std::uint32_t SystemCodeFromRuntimeError();

// Writes the platform's text for a system error code into buffer (NUL
// included, cut to fit) and returns its length; 0 when the code has no text.
// Every kError constant here has a text; a new one needs its platform error
// or a text of its own in system_error_<platform>.cpp.
[[nodiscard]] std::size_t GetSystemErrorText(std::uint32_t code, char* buffer,
                                             std::size_t bufferSize);

inline constexpr std::uint32_t kErrorInvalidName = 123;   // a name the file system cannot hold
