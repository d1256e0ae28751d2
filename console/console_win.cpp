// console_win.cpp - the console writer's platform part on Windows: the
// standard output handle, asked afresh for every text; WriteFile in the file
// variant and WriteConsoleA in the console variant, which writes nothing when
// the output is not a console; SetConsoleTextAttribute for a colour pair.
// Bytes go out as they stand, CR LF included: the console shows them in its
// own code page. The console variant's console is standard output or none,
// and its messages go nowhere when it has none.
#include "console/console.h"

#include <windows.h>

#include "console/console_platform.h"

// A console, or a character device such as NUL: either takes no colour in
// the file variant's text. WriteConsoleA tells a real console by succeeding.
ConsolePlace FindConsolePlace(OutputVariant variant) {
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR) {
        return ConsolePlace::kTerminal;
    }
    return variant == OutputVariant::kConsole ? ConsolePlace::kNowhere : ConsolePlace::kFile;
}

// One write call per run; the count written is not examined and a short
// write is not continued, and a failure changes nothing.
void WriteOutputRun(const char* bytes, std::size_t byteCount, bool terminal) {
    (void)terminal;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    const DWORD count = static_cast<DWORD>(byteCount);
    if (GetOutputVariant() == OutputVariant::kConsole) {
        (void)WriteConsoleA(output, bytes, count, &written, nullptr);
    } else {
        (void)WriteFile(output, bytes, count, &written, nullptr);
    }
}

void SetOutputColour(std::uint8_t attribute) {
    (void)SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attribute);
}

void WritePlainMessage(const char* bytes, std::size_t byteCount) {
    (void)bytes;
    (void)byteCount;
}
