// command_line.h - the image extractor's command line: banner, switches, the
// include and exclude lists, help text and exit codes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/message.h"
#include "console/text.h"

inline constexpr int kSpanNotSet = -1;

// The directories below the extraction directory that an extraction keeps
// open from the top of a deep way down: with the extraction directory, the
// innermost one and the next one while it is opened, a run holds eight
// directories at most (the Windows host's slots), however deep the tree.
inline constexpr std::size_t kHeldDirectoryCount = 5;

// Everything one run of the extractor needs; owned by main.
struct ExtractorRunState {
    char programName[kPathSize];           // program file name without its extension
    char imageFileName[kPathSize];         // empty until the first plain argument
    char extractionDirectory[kPathSize];   // current directory, or the argument of -d
    bool listingMode;                      // -v: list the selected entries, extract nothing
    bool junkPaths;                        // -j: extract every file into the extraction directory
    bool neverOverwrite;                   // -n, or the answer "N"
    bool overwriteAll;                     // -o, or the answer "A"
    int includeFirst;                      // argument positions of the include list,
    int includeLast;                       //   kSpanNotSet when not set
    int excludeFirst;                      // argument positions of the exclude list
    int excludeLast;
    int argumentCount;                     // the program's argument vector, which holds
    char** arguments;                      //   the patterns; upper-cased in place when tested,
                                           //   first turned into code page 437 with utf8Names
    int resultCode;                        // 0, or kExitError after an error
    bool utf8Names;                        // the locale uses UTF-8: names go to the host in
                                           //   UTF-8, and what the user typed arrives in it
    char shownExtractionDirectory[kPathSize];   // extractionDirectory as the lines show it
                                           //   (code page 437); set by RunExtraction
    // The open directories of the extraction (host.h handles, owned here and
    // closed by CloseExtractionDirectories): the extraction directory, opened
    // at the first file, and the directories below it on the way to the
    // directory the last file went into, so that the next file is reached
    // from the nearest directory the two ways share: the outermost
    // kHeldDirectoryCount of them and the innermost one.
    int extractionHandle;                  // kNoHostDirectory until opened
    std::size_t openDepth;                 // directories of the way that are open
    int openHandles[kHeldDirectoryCount];  // the outermost ones, in way order
    bool openMade[kHeldDirectoryCount];    // this run made the directory
    int innermostHandle;                   // the innermost, when openDepth > kHeldDirectoryCount
    bool innermostMade;
    char openPath[kPathSize];              // the host names of the way, joined by kPathSeparator
};

// Sets up the run state (program name, default extraction directory, empty
// spans) for the given argument vector.
void StartExtractorRun(ExtractorRunState* state, int argumentCount, char** arguments);

// Reads the arguments into the run state. Returns 1, or 0 after reporting an
// unknown, misplaced, incomplete or too long argument.
[[nodiscard]] int ParseExtractorArguments(ExtractorRunState* state);

void PrintExtractorBanner();
void PrintExtractorHelp(const char* programName);

// The whole program once main has started it (StartConsoleProgram): banner,
// command line, help text or the run; returns the exit code. "--help" and
// "--version" anywhere on the line (but as the directory of a d switch) show
// the help text or only the banner and give exit code 0.
[[nodiscard]] int RunExtractorProgram(int argumentCount, char** arguments);
