// program_win.cpp - the start of every program on Windows, its own path from
// GetModuleFileNameA, and the platform's conventions: "\" between path
// components, options after "/" or "-", case-insensitive file names.
#include "console/program.h"

#include <windows.h>

#include <cstring>

const char kPathSeparator = '\\';
const bool kAnswersLinuxWords = false;
const bool kSlashBeginsPaths = false;
const bool kFileNamesKeepCase = false;

void StartConsoleProgram(OutputVariant variant) { SetOutputVariant(variant); }

bool GetProgramPath(char* buffer, std::size_t bufferSize) {
    if (bufferSize == 0) return false;
    const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(bufferSize));
    // A path that filled the whole buffer was cut.
    if (length == 0 || length >= bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

void UpperCaseArgument(char* text) {
    (void)CharUpperBuffA(text, static_cast<DWORD>(std::strlen(text)));
}
