// system_error_win.cpp - on Windows the system error codes are the
// platform's own: GetLastError gives them, and FormatMessageA gives their
// texts in the user's language.
#include "console/system_error.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>

std::uint32_t SystemCodeFromRuntimeError() {
    const unsigned long code = _doserrno;
    if (code != 0) return static_cast<std::uint32_t>(code);
    return errno == EINVAL ? kErrorInvalidParameter : kErrorGeneralFailure;
}

// The text comes in the ANSI code page with its own CR LF at the end; the
// message reporter turns it into the console's letters and one line.
std::size_t GetSystemErrorText(std::uint32_t code, char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return 0;
    buffer[0] = '\0';
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                        static_cast<DWORD>(bufferSize - 1), nullptr);
    if (length == 0 || length >= bufferSize) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[length] = '\0';
    return length;
}
