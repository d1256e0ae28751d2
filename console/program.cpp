// program.cpp - the program's name from its path.
#include "console/program.h"

#include <cstring>

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
