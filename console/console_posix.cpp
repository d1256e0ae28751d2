// console_posix.cpp - the console writer's platform part: write(2) on
// descriptor 1 (or 2, where the console variant's terminal is standard
// error), isatty, terminal colour sequences, and code page 437 shown as UTF-8
// on a terminal whose locale uses UTF-8.
#include "console/console.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "console/console_platform.h"
#include "console/terminal_guard.h"

static int terminalUtf8 = -1;   // -1 not yet known, then 0 or 1
static int coloursWanted = -1;  // -1 not yet known, then 0 or 1

// The console variant's console: the terminal on standard output, else the
// one on standard error (output into a file or pipe still shows the prompts
// and the progress to the user at the terminal); -1 when neither is one.
static int FindConsoleDescriptor() {
    if (isatty(1) == 1) return 1;
    if (isatty(2) == 1) return 2;
    return -1;
}

// Where the text of the variant in force goes; -1 for nowhere.
static int FindOutputDescriptor() {
    return GetOutputVariant() == OutputVariant::kConsole ? FindConsoleDescriptor() : 1;
}

ConsolePlace FindConsolePlace(OutputVariant variant) {
    if (variant == OutputVariant::kFile) {
        return isatty(1) == 1 ? ConsolePlace::kTerminal : ConsolePlace::kFile;
    }
    return FindConsoleDescriptor() >= 0 ? ConsolePlace::kTerminal : ConsolePlace::kNowhere;
}

static void WriteAll(int descriptor, const char* bytes, std::size_t byteCount) {
    while (byteCount > 0) {
        ssize_t written = write(descriptor, bytes, byteCount);
        if (written <= 0) return;   // output failures are ignored
        bytes += written;
        byteCount -= static_cast<std::size_t>(written);
    }
}

// The position of the next CR that a LF follows, from start on; byteCount
// when there is none. A lone CR is passed over.
static std::size_t FindLineEnd(const char* bytes, std::size_t start, std::size_t byteCount) {
    std::size_t end = start;
    for (;;) {
        const void* found = std::memchr(bytes + end, '\r', byteCount - end);
        if (found == nullptr) return byteCount;
        end = static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
        if (end + 1 < byteCount && bytes[end + 1] == '\n') return end;
        ++end;
    }
}

// The system's texts end each line with CR LF; a Linux line ends with LF, so
// every CR LF is written as LF. A lone CR (a prompt or the progress line that
// the next text overwrites) stays. On a UTF-8 terminal each code page 437
// byte is written as the character it stands for; elsewhere the bytes are
// copied run by run. The guard learns that a line is open before a run is
// written and that it is closed only after the run's LF has been written.
void WriteOutputRun(const char* bytes, std::size_t byteCount, bool terminal) {
    const int descriptor = FindOutputDescriptor();
    if (descriptor < 0) return;
    if (terminal) {
        NoteTerminalDescriptor(descriptor);
        NoteTerminalLineOpen(true);
    }
    if (terminal && terminalUtf8 < 0) terminalUtf8 = IsLocaleUtf8() ? 1 : 0;
    const bool utf8 = terminal && terminalUtf8 == 1;
    char converted[1024];
    std::size_t length = 0;
    std::size_t start = 0;
    while (start < byteCount) {
        const std::size_t end = FindLineEnd(bytes, start, byteCount);
        while (start < end) {
            if (sizeof(converted) - length < (utf8 ? kUtf8MaxLength : 1)) {
                WriteAll(descriptor, converted, length);
                length = 0;
            }
            if (utf8) {
                length += EncodeCp437AsUtf8(static_cast<std::uint8_t>(bytes[start]),
                                            converted + length);
                ++start;
            } else {
                const std::size_t room = sizeof(converted) - length;
                const std::size_t count = end - start < room ? end - start : room;
                std::memcpy(converted + length, bytes + start, count);
                length += count;
                start += count;
            }
        }
        start = end + 1;   // past the CR of a CR LF (or past the end)
    }
    WriteAll(descriptor, converted, length);
    if (terminal && byteCount > 0 && bytes[byteCount - 1] == '\n') NoteTerminalLineOpen(false);
}

// NO_COLOR set to any text (an empty one counts as unset) and TERM=dumb ask
// for no colour sequences at all; the environment is read once.
static bool AreColoursWanted() {
    if (coloursWanted < 0) {
        const char* noColour = std::getenv("NO_COLOR");
        const char* terminalType = std::getenv("TERM");
        const bool off = (noColour != nullptr && noColour[0] != '\0') ||
                         (terminalType != nullptr && std::strcmp(terminalType, "dumb") == 0);
        coloursWanted = off ? 0 : 1;
    }
    return coloursWanted == 1;
}

// The guard learns of a colour before it is written and of the reset only
// after it has been written: a signal in between costs at most one reset too
// many, never a terminal left in the program's colours.
void SetOutputColour(std::uint8_t attribute) {
    if (!AreColoursWanted()) return;
    const int descriptor = FindOutputDescriptor();
    char sequence[32];
    std::size_t length = FormatColourSequence(attribute, sequence, sizeof(sequence));
    if (descriptor < 0 || length == 0) return;
    NoteTerminalDescriptor(descriptor);
    if (attribute != kColourNormal) NoteTerminalColours(true);
    WriteAll(descriptor, sequence, length);
    if (attribute == kColourNormal) NoteTerminalColours(false);
}

void WritePlainMessage(const char* bytes, std::size_t byteCount) { WriteAll(2, bytes, byteCount); }
