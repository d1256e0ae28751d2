// program.h - the running program's own file: its path (the self-creating
// diskette reads its payload from it) and the name that banners and help
// texts show; and what sets the platforms apart for command lines and paths.
#pragma once
#include <cstddef>

#include "console/console.h"

// Prepares the process for one of the programs; the first call of every main
// routine. Chooses the output variant for the whole run. On POSIX it also
// lets a write to a pipe or socket whose reader has gone fail like any other
// output failure (the console writer ignores it) instead of ending the
// process, so the run goes on to its end and its exit code; lets a write past
// the file size limit fail with its reason (EFBIG) instead of ending the
// process; and, where standard input, output or error is a terminal, guards
// it: its colours and mode are given back at exit and on every signal that
// ends or stops the program (terminal_guard.h). A Windows console keeps the
// colours and the input mode the program leaves.
void StartConsoleProgram(OutputVariant variant);

// Writes the path of the running program's file into buffer; false when it
// cannot be found or does not fit (buffer then holds an empty text).
[[nodiscard]] bool GetProgramPath(char* buffer, std::size_t bufferSize);

// Writes the program's name into name: the last component of its path, with
// cutExtension cut at its last "." (cutting the whole path would cut at a
// dot in a directory name). fallbackPath (argument 0, as a rule) stands in
// when the program's path cannot be found; nullptr gives an empty name then.
void GetProgramName(const char* fallbackPath, bool cutExtension, char* name,
                    std::size_t nameSize);

// Writes into name the program's name as GetProgramName takes it from a path
// already in hand: the last component of path, cut as above.
void CopyProgramName(const char* path, bool cutExtension, char* name, std::size_t nameSize);

// What sets the platforms apart for command lines and paths; defined in
// program_<platform>.cpp.
extern const char kPathSeparator;          // between the components of a path: '/' or '\'
// True where the programs answer "--help" and "--version", as programs do on
// Linux; on Windows these are arguments like any other.
extern const bool kAnswersLinuxWords;
// True where an argument that begins with "/" may be an absolute path, so
// that only a "/" followed by a switch name is a switch (POSIX).
extern const bool kSlashBeginsPaths;
// True where file names are case-sensitive: the diskette writer then opens
// its image file under the name as typed rather than upper-cased.
extern const bool kFileNamesKeepCase;

// What a command line asks for before anything else, where the programs
// answer the words "--help" and "--version".
enum class LinuxWord : unsigned char {
    kNone = 0,
    kHelp = 1,      // "--help": banner and help text, exit code 0
    kVersion = 2,   // "--version": the banner's title lines, exit code 0
};

// The first "--help" or "--version" among the arguments (from the second on),
// each compared as a whole; always kNone where kAnswersLinuxWords is false.
// valueSwitch names a switch (after its "/" or "-") whose next argument is a
// value, skipped whatever it reads; nullptr where there is none. No switch of
// the programs begins with "--", so neither word can mean anything else.
[[nodiscard]] LinuxWord FindLinuxWord(int argumentCount, char** arguments,
                                      const char* valueSwitch);

// Copies an argument into a name field (fieldSize bytes, NUL included).
// An argument that does not fit is refused: returns false after reporting
// "Parameter too long (more than <fieldSize - 1> characters): '<its first 60
// characters>...'".
[[nodiscard]] bool CopyArgumentField(char* field, std::size_t fieldSize, const char* argument);

// Upper-cases an argument of a diskette program in place: the letters a to z
// on POSIX; on Windows every letter of the ANSI code page (CharUpperBuffA).
void UpperCaseArgument(char* text);
