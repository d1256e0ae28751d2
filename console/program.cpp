// program.cpp - the program's name from its path, and the command-line rules
// every program shares.
#include "console/program.h"

#include <cstring>

#include "console/message.h"
#include "console/text.h"

void GetProgramName(const char* fallbackPath, bool cutExtension, char* name,
                    std::size_t nameSize) {
    char path[kPathSize];
    if (!GetProgramPath(path, std::size(path)) &&
        !CopyText(path, std::size(path), fallbackPath != nullptr ? fallbackPath : "")) {
        path[0] = '\0';
    }
    CopyProgramName(path, cutExtension, name, nameSize);
}

void CopyProgramName(const char* path, bool cutExtension, char* name, std::size_t nameSize) {
    if (nameSize == 0) return;
    const char* slash = std::strrchr(path, kPathSeparator);
    const char* baseName = slash != nullptr ? slash + 1 : path;
    if (!CopyText(name, nameSize, baseName)) name[0] = '\0';
    char* dot = std::strrchr(name, '.');
    if (cutExtension && dot != nullptr && dot != name) *dot = '\0';
}

LinuxWord FindLinuxWord(int argumentCount, char** arguments, const char* valueSwitch) {
    if (!kAnswersLinuxWords) return LinuxWord::kNone;
    for (int position = 1; position < argumentCount; ++position) {
        const char* argument = arguments[position];
        if (std::strcmp(argument, "--help") == 0) return LinuxWord::kHelp;
        if (std::strcmp(argument, "--version") == 0) return LinuxWord::kVersion;
        if (valueSwitch != nullptr && (argument[0] == '-' || argument[0] == '/') &&
            std::strcmp(argument + 1, valueSwitch) == 0) {
            ++position;
        }
    }
    return LinuxWord::kNone;
}

bool CopyArgumentField(char* field, std::size_t fieldSize, const char* argument) {
    if (CopyText(field, fieldSize, argument)) return true;
    ReportMessage("Parameter too long (more than %u characters): '%.60s...'", kMessageError, 0,
                  static_cast<unsigned>(fieldSize - 1), argument);
    return false;
}
