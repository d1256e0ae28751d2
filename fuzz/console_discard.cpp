// console_discard.cpp - the console writer's platform part for the fuzz
// targets, linked in place of console_posix.cpp: output is never a terminal
// and every byte is read (so the sanitizers see an overread) and dropped,
// without a system call per line.
#include "console/console.h"
#include "console/console_platform.h"

static volatile std::uint8_t outputSum = 0;

ConsolePlace FindConsolePlace(OutputVariant variant) {
    return variant == OutputVariant::kConsole ? ConsolePlace::kNowhere : ConsolePlace::kFile;
}

void WriteOutputRun(const char* bytes, std::size_t byteCount, bool) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < byteCount; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    outputSum = sum;
}

void WritePlainMessage(const char* bytes, std::size_t byteCount) {
    WriteOutputRun(bytes, byteCount, false);
}

void SetOutputColour(std::uint8_t) {}
