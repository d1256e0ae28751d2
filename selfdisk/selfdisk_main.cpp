// selfdisk_main.cpp - the self-creating diskette: one program that carries
// diskette images in its own file and writes them onto diskettes.
#include <iterator>

#include "console/program.h"
#include "console/text.h"
#include "diskette/diskette_program.h"
#include "image/image_format.h"
#include "selfdisk/selfdisk_run.h"

int main(int argumentCount, char** arguments) {
    StartDisketteProgram(InfoLineWording::kSelfDisk);
    // The payload is read from the program's own file, opened by the
    // platform's own path for it where there is one, else by its path; when
    // that cannot be had, the empty path cannot be opened and that is
    // reported. Messages show the program's path; the name comes from
    // argument 0 when there is none.
    char programPath[kPathSize];
    if (!GetProgramPath(programPath, std::size(programPath))) programPath[0] = '\0';
    char programName[kPathSize];
    const char* namePath = programPath;
    if (namePath[0] == '\0') namePath = argumentCount > 0 ? arguments[0] : "selfdisk";
    CopyProgramName(namePath, false, programName, std::size(programName));
    const char* openPath = kOwnProgramFile[0] != '\0' ? kOwnProgramFile : programPath;
    return RunSelfDisk(argumentCount, arguments, openPath, programPath, programName);
}
