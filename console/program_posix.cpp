// program_posix.cpp - the start of every program, and its own path from
// /proc/self/exe.
#include "console/program.h"

#include <signal.h>
#include <unistd.h>

#include "console/terminal_guard.h"
#include "console/text.h"

const char kPathSeparator = '/';
const bool kAnswersLinuxWords = true;
const bool kSlashBeginsPaths = true;
const bool kFileNamesKeepCase = true;

void UpperCaseArgument(char* text) { UpperCaseAscii(text); }

void StartConsoleProgram(OutputVariant variant) {
    SetOutputVariant(variant);
    // Without this, the first line written after the reader went away (head,
    // a pager closed early) would end the process silently, in the middle of
    // an extraction.
    signal(SIGPIPE, SIG_IGN);
    GuardTerminal();
}

bool GetProgramPath(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    ssize_t length = readlink("/proc/self/exe", buffer, bufferSize);
    if (length <= 0 || static_cast<std::size_t>(length) >= bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}
