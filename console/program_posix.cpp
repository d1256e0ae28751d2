// program_posix.cpp - the start of every program on POSIX, and the
// platform's conventions: "/" between path components and at the start of
// absolute paths, case-sensitive file names, --help and --version.
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
    // A write past a file size limit (ulimit -f) then fails with EFBIG and is
    // reported with its reason, instead of the process being killed.
    signal(SIGXFSZ, SIG_IGN);
    // Only a terminal has colours and a mode to give back; with none of the
    // three standard descriptors on one, the guard has nothing to do.
    if (isatty(0) == 1 || isatty(1) == 1 || isatty(2) == 1) GuardTerminal();
}
