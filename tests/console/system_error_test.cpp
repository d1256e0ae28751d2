// Tests of the one table between errno values and system error codes.
#include "console/system_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

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
    EXPECT_EQ(GetSystemErrorText(kErrorOpenFailed, text, sizeof(text)), 0u);
    EXPECT_EQ(GetSystemErrorText(0, text, sizeof(text)), 0u);
    char small[6];
    EXPECT_EQ(GetSystemErrorText(kErrorAccessDenied, small, sizeof(small)), 5u);   // cut to fit
}

TEST(SystemErrorCodes, KeepUnknownErrnoValuesRecoverable) {
    std::uint32_t code = SystemCodeFromPlatformError(EHOSTDOWN);
    EXPECT_EQ(code, kErrorPlatformBit | EHOSTDOWN);
    EXPECT_EQ(PlatformErrorFromSystemCode(code), EHOSTDOWN);
    EXPECT_EQ(PlatformErrorFromSystemCode(12345), 0);
}

}  // namespace
