// selfdisk_run.h - the self-creating diskette's main routine: it shows the
// description its payload carries, then asks for one diskette after the other
// and writes each carried image onto it. Command line "[Drive] [Options]"
// with /A /D /S /F /N:n /V /?.
#pragma once
#include <cstdint>

#include "diskette/diskette_program.h"

// Runs the self-creating diskette with the arguments main received
// (arguments[0] is the program's own): the banner, the command line, the drive
// check, then the payload of the file openPath (in a real run the program's
// own file, opened by the platform's path for it), its description, and each
// diskette in turn. shownPath names that file in messages (the program's
// path); programName is the name the banner and the usage text show. The caller has chosen the
// console output, the self-creating diskette's info line and the key mode.
// Returns the exit code: 0 success (also a cancellation at a prompt or while
// waiting, and nothing to write), 1 the usage text was shown, 3 any error.
[[nodiscard]] int RunSelfDisk(int argumentCount, char** arguments, const char* openPath,
                              const char* shownPath, const char* programName);
