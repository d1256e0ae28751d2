// Tests of the one table between errno values and system error codes.
#include "console/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "console/message.h"

namespace {

TEST(SystemErrorCodes, TranslateErrnoIntoTheCommonNumbering) {
    struct Row {
        const char* name;
        int errnoValue;
        std::uint32_t code;
    };
    const Row rows[] = {
        {"no file", ENOENT, 2},       {"no path", ENOTDIR, 3},    {"denied", EACCES, 5},
        {"not permitted", EPERM, 5},  {"read-only", EROFS, 19},   {"no medium", ENOMEDIUM, 21},
        {"no device", ENXIO, 21},     {"i/o", EIO, 30},           {"busy", EBUSY, 32},
        {"exists", EEXIST, 183},      {"full", ENOSPC, 112},      {"no memory", ENOMEM, 8},
        {"lock held", EWOULDBLOCK, 32}, {"unknown medium", EMEDIUMTYPE, 1785},
        {"file size limit", EFBIG, 223}, {"medium error", ENODATA, 23},
        {"none", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(SystemCodeFromPlatformError(row.errnoValue), row.code);
    }
}

TEST(SystemErrorCodes, FindTheTextOfEachCode) {
    char text[512];
    EXPECT_GT(GetSystemErrorText(kErrorWriteFault, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, std::strerror(EIO));
    EXPECT_GT(GetSystemErrorText(kErrorNotReady, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, std::strerror(ENOMEDIUM));
    EXPECT_GT(GetSystemErrorText(kErrorFileTooLarge, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "File too large");   // not ENOSPC's "No space left on device"
    EXPECT_EQ(GetSystemErrorText(0, text, sizeof(text)), 0u);
    EXPECT_EQ(GetSystemErrorText(12345, text, sizeof(text)), 0u);   // no code of the numbering
    char small[6];
    EXPECT_EQ(GetSystemErrorText(kErrorAccessDenied, small, sizeof(small)), 5u);   // cut to fit
}

TEST(SystemErrorCodes, KeepUnknownErrnoValuesRecoverable) {
    std::uint32_t code = SystemCodeFromPlatformError(EHOSTDOWN);
    EXPECT_EQ(code, kErrorPlatformBit | EHOSTDOWN);
    EXPECT_EQ(PlatformErrorFromSystemCode(code), EHOSTDOWN);
    EXPECT_EQ(PlatformErrorFromSystemCode(12345), 0);
}

// Every code the programs can pass to the reporter. A constant added to
// system_error.h must be added here too (the last test reads the header).
struct NamedCode {
    const char* name;
    std::uint32_t code;
};
const NamedCode kEveryCode[] = {
    {"kErrorInvalidFunction", kErrorInvalidFunction}, {"kErrorFileNotFound", kErrorFileNotFound},
    {"kErrorPathNotFound", kErrorPathNotFound}, {"kErrorTooManyOpenFiles", kErrorTooManyOpenFiles},
    {"kErrorAccessDenied", kErrorAccessDenied}, {"kErrorInvalidHandle", kErrorInvalidHandle},
    {"kErrorNotEnoughMemory", kErrorNotEnoughMemory}, {"kErrorWriteProtect", kErrorWriteProtect},
    {"kErrorBadUnit", kErrorBadUnit}, {"kErrorNotReady", kErrorNotReady}, {"kErrorCrc", kErrorCrc},
    {"kErrorSectorNotFound", kErrorSectorNotFound}, {"kErrorWriteFault", kErrorWriteFault},
    {"kErrorReadFault", kErrorReadFault}, {"kErrorGeneralFailure", kErrorGeneralFailure},
    {"kErrorSharingViolation", kErrorSharingViolation}, {"kErrorNotSupported", kErrorNotSupported},
    {"kErrorFileExists", kErrorFileExists}, {"kErrorInvalidParameter", kErrorInvalidParameter},
    {"kErrorOpenFailed", kErrorOpenFailed}, {"kErrorDiskFull", kErrorDiskFull},
    {"kErrorAlreadyExists", kErrorAlreadyExists}, {"kErrorFileNameTooLong", kErrorFileNameTooLong},
    {"kErrorDirectoryNotEmpty", kErrorDirectoryNotEmpty}, {"kErrorIoDevice", kErrorIoDevice},
    {"kErrorFileTooLarge", kErrorFileTooLarge},
    {"kErrorCancelled", kErrorCancelled}, {"kErrorTimeout", kErrorTimeout},
    {"kErrorUnrecognizedMedia", kErrorUnrecognizedMedia},
    {"kErrorTooManyLinks", kErrorTooManyLinks}, {"kErrorInvalidName", kErrorInvalidName},
};

TEST(SystemErrorTexts, EveryCodeHasAText) {
    for (const NamedCode& row : kEveryCode) {
        SCOPED_TRACE(row.name);
        char text[kSystemTextBufferSize];
        EXPECT_GT(GetSystemErrorText(row.code, text, sizeof(text)), 0u);
        EXPECT_GT(std::strlen(text), 0u);
    }
}

TEST(SystemErrorTexts, CodesWithoutAnErrnoValueHaveWordsOfTheirOwn) {
    struct Row {
        std::uint32_t code;
        const char* text;
    };
    const Row rows[] = {
        {31, "General failure"},
        {110, "Cannot open the file"},
        {123, "Invalid file or directory name"},
        {SystemCodeFromSense(3, 0x31, 0x01), "Medium error reported by the drive, sense 3/31/01"},
        {SystemCodeFromSense(0x0B, 0x47, 0x00),
         "Aborted command reported by the drive, sense B/47/00"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        char text[kSystemTextBufferSize];
        EXPECT_EQ(GetSystemErrorText(row.code, text, sizeof(text)), std::strlen(row.text));
        EXPECT_STREQ(text, row.text);
    }
}

TEST(SystemErrorTexts, TheTableNamesEveryConstantOfTheHeader) {
    std::ifstream header(SOURCE_DIR "/console/system_error.h");
    ASSERT_TRUE(header.good());
    // Declarations read "inline constexpr std::uint32_t kErrorName = 123;".
    const std::string type = "constexpr std::uint32_t ";
    std::string line;
    int declared = 0;
    while (std::getline(header, line)) {
        const std::size_t at = line.find(type + "kError");
        const std::size_t equals = line.find(" = ");
        if (at == std::string::npos || equals == std::string::npos) continue;
        const std::size_t nameStart = at + type.size();
        const std::string name = line.substr(nameStart, equals - nameStart);
        const char first = line[equals + 3];
        const bool decimal = first >= '1' && first <= '9';   // not kErrorNone, not a bit mask
        if (!decimal) continue;
        ++declared;
        bool listed = false;
        for (const NamedCode& row : kEveryCode) listed = listed || name == row.name;
        EXPECT_TRUE(listed) << name << " is missing from kEveryCode";
    }
    EXPECT_EQ(declared, static_cast<int>(std::size(kEveryCode)));
}

}  // namespace
